#pragma once
// Folders, files and links in memory, for the settings folder's hold and the writers that
// go through it: owners and access lists, handles that keep a folder from being renamed,
// paths that lead through links as the platform's do, and a user who tries to swap a
// folder. Every change the program makes is recorded with the real path it reached.

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "config/core/settings_folder.h"

namespace orvel::testing {

class FakeFolderTree final : public FolderGuardPlatform, public FileAccess {
 public:
  static constexpr char kSystem[] = "S-1-5-18";
  static constexpr char kAdministrators[] = "S-1-5-32-544";
  static constexpr char kUsers[] = "S-1-5-32-545";
  static constexpr char kUser[] = "S-1-5-21-1000-2000-3000-1001";

  struct Node {
    enum class Kind { kFolder, kFile, kLink };
    Kind kind = Kind::kFolder;
    std::string owner = kAdministrators;
    std::vector<AccessEntry> entries;
    std::string bytes;   // a file's
    std::string target;  // a link's
    int names = 1;       // a file's hard links
  };

  // The lists the product gives each level.
  static std::vector<AccessEntry> Locked() {
    return {{AccessEntry::Type::kAllow, 3, 0x1F01FF, kSystem},
            {AccessEntry::Type::kAllow, 3, 0x1F01FF, kAdministrators},
            {AccessEntry::Type::kAllow, 3, 0x1200A9, kUsers}};
  }
  static std::vector<AccessEntry> ParentLocked() {
    std::vector<AccessEntry> entries = Locked();
    entries.push_back({AccessEntry::Type::kAllow, 0xB, 0x10000000, "S-1-3-0"});
    entries.push_back({AccessEntry::Type::kAllow, 0x2, 0x100116, kUsers});
    return entries;
  }

  void AddFolder(const std::string& path, std::string owner = kAdministrators,
                 std::vector<AccessEntry> entries = Locked()) {
    nodes[path] = Node{Node::Kind::kFolder, std::move(owner), std::move(entries), {}, {}, 1};
  }
  void AddFile(const std::string& path, std::string bytes, std::string owner = kAdministrators) {
    nodes[path] = Node{Node::Kind::kFile, std::move(owner), {}, std::move(bytes), {}, 1};
  }
  void AddLink(const std::string& path, std::string target) {
    nodes[path] = Node{Node::Kind::kLink, kUser, {}, {}, std::move(target), 1};
  }
  bool Has(const std::string& path) const { return nodes.count(path) != 0; }
  const std::string& Bytes(const std::string& path) { return nodes[path].bytes; }

  // Where a path leads: every element but the last is followed through a link.
  std::string Resolve(const std::string& path) const {
    std::string done;
    std::size_t start = 0;
    while (true) {
      const std::size_t separator = path.find('\\', start);
      const std::string element = path.substr(start, separator - start);
      done += (done.empty() && start == 0 ? "" : "\\") + element;
      if (separator == std::string::npos) return done;
      const auto found = nodes.find(done);
      if (found != nodes.end() && found->second.kind == Node::Kind::kLink) {
        done = Resolve(found->second.target);
      }
      start = separator + 1;
    }
  }

  // A standard user's rename: refused while the folder, or anything in it, is held.
  bool UserMove(const std::string& from, const std::string& to) {
    const std::string real = Resolve(from);
    for (const std::string& h : held) {
      if (h == real || h.rfind(real + "\\", 0) == 0) return false;
    }
    if (!Has(real) || Has(Resolve(to))) return false;
    MoveTree(real, Resolve(to));
    return true;
  }

  // FolderGuardPlatform
  CreateResult MakeDirectory(const std::string& path, FolderLevel level) override {
    const std::string real = Resolve(path);
    if (unmakeable.count(path)) return CreateResult::kFailed;
    if (Has(real)) return CreateResult::kAlreadyExists;
    const std::string parent = real.substr(0, real.rfind('\\'));
    if (!Has(parent) || nodes[parent].kind != Node::Kind::kFolder) return CreateResult::kFailed;
    AddFolder(real, kAdministrators, level == FolderLevel::kSettings ? Locked() : ParentLocked());
    changes.push_back("make " + real);
    return CreateResult::kCreated;
  }
  Held HoldFolder(const std::string& path) override {
    const std::string real = Resolve(path);
    Held result;
    if (unholdable.count(path)) return result;
    const auto found = nodes.find(real);
    if (found == nodes.end()) {
      result.status = HoldStatus::kMissing;
      return result;
    }
    result.status = HoldStatus::kHeld;
    result.facts.link = found->second.kind != Node::Kind::kFolder;
    result.facts.owner = found->second.owner;
    result.facts.entries = found->second.entries;
    held.insert(real);
    if (afterHold) afterHold(path);
    return result;
  }
  bool TakeBackFolder(const std::string& path) override {
    const std::string real = Resolve(path);
    if (!held.count(real) || failTakeBack) return false;
    nodes[real].owner = kAdministrators;
    nodes[real].entries = ParentLocked();
    changes.push_back("take back " + real);
    return true;
  }
  MoveResult MoveAside(const std::string& path, const std::string& to) override {
    const std::string real = Resolve(path);
    if (!held.count(real) || unmovable.count(path)) return MoveResult::kFailed;
    if (Has(Resolve(to))) return MoveResult::kNameTaken;
    held.erase(real);
    MoveTree(real, Resolve(to));
    changes.push_back("move " + real + " to " + Resolve(to));
    return MoveResult::kMoved;
  }
  std::string ProcessUserSid() override { return self; }
  std::string TimeStamp() override { return "20261208-120000"; }
  void ReleaseFolders() override { held.clear(); }

  // FileAccess, as the settings folder's own: nothing through a link at the name.
  FileReadStatus ReadWholeFile(const std::string& path, std::string& bytes) override {
    const auto found = nodes.find(Resolve(path));
    if (found == nodes.end()) return FileReadStatus::kMissing;
    if (found->second.kind != Node::Kind::kFile || found->second.names != 1) {
      return FileReadStatus::kError;
    }
    bytes = found->second.bytes;
    return FileReadStatus::kOk;
  }
  bool ReplaceWholeFile(const std::string& path, const std::string& bytes) override {
    const std::string real = Resolve(path);
    heldOpen_ = openElsewhere.count(real) != 0;
    const std::string parent = real.substr(0, real.rfind('\\'));
    if (heldOpen_ || !Has(parent) || nodes[parent].kind != Node::Kind::kFolder) return false;
    if (Has(real) && nodes[real].kind != Node::Kind::kFile) return false;
    AddFile(real, bytes, self);
    changes.push_back("write " + real);
    return true;
  }
  bool LastReplaceHeldOpen() const override { return heldOpen_; }
  bool RemoveFile(const std::string& path) override {
    const std::string real = Resolve(path);
    if (!Has(real)) return true;
    if (nodes[real].kind != Node::Kind::kFile) return false;
    nodes.erase(real);
    changes.push_back("remove " + real);
    return true;
  }

  std::map<std::string, Node> nodes;
  std::set<std::string> held;
  std::vector<std::string> changes;
  std::set<std::string> unholdable, unmakeable, unmovable, openElsewhere;
  bool failTakeBack = false;
  std::string self = kSystem;
  std::function<void(const std::string&)> afterHold;

 private:
  void MoveTree(const std::string& from, const std::string& to) {
    std::map<std::string, Node> moved;
    for (auto it = nodes.begin(); it != nodes.end();) {
      if (it->first == from || it->first.rfind(from + "\\", 0) == 0) {
        moved[to + it->first.substr(from.size())] = it->second;
        it = nodes.erase(it);
      } else {
        ++it;
      }
    }
    nodes.merge(moved);
  }

  bool heldOpen_ = false;
};

}  // namespace orvel::testing
