#pragma once
// A transform (.mst) that sets one property of a package, written as Windows Installer stores
// one. Wine's msi applies transforms but cannot make them (MsiDatabaseGenerateTransform and
// MsiCreateTransformSummaryInfo are stubs there), so the tests write their own.

#include <string>

namespace orvel::test {

// Writes at `transform` a transform that adds the row (name, value) to the Property table of
// `package`. Its summary asks Windows Installer to check the package's UpgradeCode only, as
// CreateTransformSummaryInfo with msiTransformValidationUpgradeCode and no suppressed errors
// writes it, so it fits every build of the product. Name and value are printable ASCII of 1 to
// 1024 characters. False, and no file left, when anything fails.
bool WritePropertyTransform(const std::wstring& package, const std::wstring& transform,
                            const std::wstring& name, const std::wstring& value);

}  // namespace orvel::test
