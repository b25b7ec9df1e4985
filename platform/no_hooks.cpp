// The hooks of the shipped programs: no call is made to fail and nothing is counted.
#include "platform/hooks.h"

int TakeFault(Service, uint32_t*, FaultKind*) { return 0; }
uint32_t SideBySideReaders(uint32_t wanted) { return wanted; }
void NoteFileOpened(const void*) {}
void NoteFileClosed(const void*) {}
int NoteRegionAcquired(const void*, uint64_t, uint64_t) { return 1; }
void NoteRegionReleased(const void*) {}
void NoteThreadStarted() {}
void NoteThreadJoined() {}
uint32_t StandInReparseTag(const char*, uint32_t*) { return 0; }
