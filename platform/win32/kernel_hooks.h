#pragma once
// Test hooks of the kernel part. Tests use them; the desktop never does.
#include <cstdint>

namespace ferolt::hooks
{
// Replaces the real clock by a manual one that starts at `startMilliseconds` and moves only when told.
void InstallManualClock(uint64_t startMilliseconds);
void AdvanceClock(uint64_t milliseconds);
void RemoveManualClock();

// Makes a built-in module (or one export of it) look absent to LoadLibraryA / GetProcAddress.
void SetModuleMissing(const char* moduleName, bool missing);
void SetExportMissing(const char* moduleName, const char* procName, bool missing);
// Clears every missing-module and missing-export mark.
void ResetMissingModules();

// Points the registry at another hive file (null: back to the user's configuration directory) and
// forgets what was loaded, so the next access reads that file as a restarted program would.
void SetRegistryHivePath(const char* path);
// Forgets the loaded registry; the next access reads the hive file again.
void ReloadRegistry();
} // namespace ferolt::hooks
