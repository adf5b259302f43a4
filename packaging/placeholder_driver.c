/* A placeholder kernel driver for package tests: only its version resource matters. If a
   driver host ever loads it, its entry point refuses to start. */
long __stdcall DriverEntry(void* driverObject, void* registryPath) {
  (void)driverObject;
  (void)registryPath;
  return (long)0xC0000001L; /* STATUS_UNSUCCESSFUL */
}
