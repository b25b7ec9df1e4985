// A copy that stands in for a file with more than one name: the file's attributes, times and
// access list, and its named streams.
#include <windows.h>
#include <winternl.h>

#include <string>
#include <vector>

#include "platform/hooks.h"
#include "platform/platform.h"
#include "platform/win32/handles.h"

extern "C" NTSTATUS NTAPI NtQuerySecurityObject(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, ULONG, PULONG);
extern "C" NTSTATUS NTAPI NtSetSecurityObject(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);

namespace {

constexpr FILE_INFORMATION_CLASS kFileStreamInformation = static_cast<FILE_INFORMATION_CLASS>(22);
// Room for the list of a file's streams, and the piece of a stream copied at a time.
constexpr size_t kStreamListBytes = 65536;
constexpr DWORD kStreamPieceBytes = 65536;

struct StreamInformation {
  ULONG NextEntryOffset;
  ULONG StreamNameLength;
  LARGE_INTEGER StreamSize;
  LARGE_INTEGER StreamAllocationSize;
  WCHAR StreamName[1];
};

SystemError Failed(NTSTATUS status) { return Failure(RtlNtStatusToDosError(status)); }

// Opens a stream (":name:$DATA") of the file the handle has open.
NTSTATUS OpenStream(HANDLE file, const std::wstring& name, ACCESS_MASK access, ULONG disposition, HANDLE* opened) {
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name.c_str());
  text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, 0, file, nullptr);
  IO_STATUS_BLOCK status;
  return NtCreateFile(opened, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ,
                      disposition, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, nullptr, 0);
}

// Copies every named stream of from into to; the unnamed one is the file's own bytes.
SystemError CopyStreams(HANDLE from, HANDLE to) {
  std::vector<unsigned char> list(kStreamListBytes);
  IO_STATUS_BLOCK status;
  if (NtQueryInformationFile(from, &status, list.data(), static_cast<ULONG>(list.size()), kFileStreamInformation) < 0) {
    return SystemError{};  // a file system without streams
  }
  for (auto* entry = reinterpret_cast<StreamInformation*>(list.data());;
       entry = reinterpret_cast<StreamInformation*>(reinterpret_cast<unsigned char*>(entry) + entry->NextEntryOffset)) {
    const std::wstring name(entry->StreamName, entry->StreamNameLength / sizeof(wchar_t));
    if (name != L"::$DATA" && entry->StreamNameLength > 0) {
      HANDLE source, target;
      NTSTATUS opened = OpenStream(from, name, GENERIC_READ, FILE_OPEN, &source);
      if (opened < 0) return Failed(opened);
      opened = OpenStream(to, name, GENERIC_WRITE, FILE_OVERWRITE_IF, &target);
      if (opened < 0) {
        CloseHandle(source);
        return Failed(opened);
      }
      char buffer[kStreamPieceBytes];
      DWORD read = 0, written = 0;
      BOOL ok = TRUE;
      while (ok && (ok = ReadFile(source, buffer, sizeof buffer, &read, nullptr)) && read > 0) {
        ok = WriteFile(target, buffer, read, &written, nullptr) && written == read;
      }
      const SystemError failed = ok ? SystemError{} : LastError();
      CloseHandle(source);
      CloseHandle(target);
      if (failed) return failed;
    }
    if (entry->NextEntryOffset == 0) break;
  }
  return SystemError{};
}

}  // namespace

SystemError GetFileLinkCount(const File& file, uint32_t* links) {
  if (const SystemError failed = Fault(Service::GetFileLinkCount)) return failed;
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(Native(file), &information)) return LastError();
  *links = information.nNumberOfLinks;
  return SystemError{};
}

SystemError CopyFileAttributes(const File& from, const File& to) {
  if (const SystemError failed = Fault(Service::CopyFileAttributes)) return failed;
  // The access list; the owner stays the one who made the copy, as Windows lets only some give
  // away a file.
  ULONG needed = 0;
  NtQuerySecurityObject(Native(from), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed > 0) {
    std::vector<unsigned char> descriptor(needed);
    NTSTATUS status = NtQuerySecurityObject(Native(from), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed);
    if (status >= 0) status = NtSetSecurityObject(Native(to), DACL_SECURITY_INFORMATION, descriptor.data());
    if (status < 0) return Failed(status);
  }
  if (const SystemError failed = CopyStreams(Native(from), Native(to))) return failed;
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(Native(from), FileBasicInfo, &basic, sizeof basic)) return LastError();
  return SetFileInformationByHandle(Native(to), FileBasicInfo, &basic, sizeof basic) ? SystemError{} : LastError();
}
