// The subset of the Win32 interface that korvane calls.
//
// On Windows this is <windows.h> itself. Elsewhere the same names, types and
// constants are declared here and implemented over POSIX in the
// *-posix.cpp files (files, folders, time, identity, code pages), so that the
// program's sources are the same on both.
#ifndef KORVANE_PLATFORM_WIN32_H_
#define KORVANE_PLATFORM_WIN32_H_

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <string.h>
#include <windows.h>

#else  // POSIX

#include <stddef.h>
#include <stdint.h>
#include <strings.h>

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint16_t WCHAR;
typedef LONG* PLONG;
typedef DWORD* LPDWORD;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef size_t SIZE_T;

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

#define WINAPI

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#define FILE_ATTRIBUTE_NORMAL 0x00000080u

#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u

#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define FILE_MAP_WRITE 0x0002u
#define FILE_MAP_READ 0x0004u

#define MAX_COMPUTERNAME_LENGTH 15

#define TIME_ZONE_ID_INVALID 0xFFFFFFFFu
#define TIME_ZONE_ID_UNKNOWN 0u
#define TIME_ZONE_ID_STANDARD 1u
#define TIME_ZONE_ID_DAYLIGHT 2u

#define ERROR_SUCCESS 0u
#define ERROR_INVALID_FUNCTION 1u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_WRITE_FAULT 29u
#define ERROR_READ_FAULT 30u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_HANDLE_DISK_FULL 39u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_BUFFER_OVERFLOW 111u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_NEGATIVE_SEEK 131u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_FILE_TOO_LARGE 223u
#define ERROR_NO_DATA 232u
#define ERROR_BROKEN_PIPE 109u
#define ERROR_BAD_FILE_TYPE 222u
#define ERROR_INVALID_ADDRESS 487u
#define ERROR_FILE_INVALID 1006u
#define ERROR_NONE_MAPPED 1332u
#define ERROR_CANT_RESOLVE_FILENAME 1921u

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;

typedef struct _TIME_ZONE_INFORMATION {
  LONG Bias;
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
} TIME_ZONE_INFORMATION, *PTIME_ZONE_INFORMATION, *LPTIME_ZONE_INFORMATION;

// Files. A handle is an object of the layer, never a bare descriptor.
HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES securityAttributes,
                          DWORD creationDisposition, DWORD flagsAndAttributes,
                          HANDLE templateFile);
BOOL WINAPI CloseHandle(HANDLE object);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distanceToMove,
                            PLONG distanceToMoveHigh, DWORD moveMethod);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD numberOfBytesToRead,
                     LPDWORD numberOfBytesRead, LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD numberOfBytesToWrite,
                      LPDWORD numberOfBytesWritten, LPOVERLAPPED overlapped);
BOOL WINAPI FlushFileBuffers(HANDLE file);
HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES attributes,
                                 DWORD protect, DWORD maximumSizeHigh,
                                 DWORD maximumSizeLow, LPCSTR name);
LPVOID WINAPI MapViewOfFile(HANDLE fileMappingObject, DWORD desiredAccess,
                            DWORD fileOffsetHigh, DWORD fileOffsetLow,
                            SIZE_T numberOfBytesToMap);
BOOL WINAPI UnmapViewOfFile(LPCVOID baseAddress);
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD errorCode);

// Time.
DWORD WINAPI GetTickCount(void);
DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION information);
void WINAPI GetSystemTimeAsFileTime(LPFILETIME systemTimeAsFileTime);
void WINAPI GetSystemTime(LPSYSTEMTIME systemTime);
BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* systemTime,
                                 LPFILETIME fileTime);
BOOL WINAPI FileTimeToSystemTime(const FILETIME* fileTime,
                                 LPSYSTEMTIME systemTime);

// Identity.
BOOL WINAPI GetUserNameA(LPSTR buffer, LPDWORD size);
BOOL WINAPI GetComputerNameA(LPSTR buffer, LPDWORD size);
DWORD WINAPI CharLowerBuffA(LPSTR text, DWORD length);
DWORD WINAPI GetCurrentProcessId(void);

// The console (win32_console-posix.cpp). A terminal is shared with the
// shell that started the program, so the list holds this process and its
// parent, as a command prompt's console would: never this process alone.
DWORD WINAPI GetConsoleProcessList(LPDWORD processList, DWORD processCount);

// Folders and names (win32_dir-posix.cpp). A listing shows a symbolic link
// as Windows shows one: FILE_ATTRIBUTE_REPARSE_POINT, with
// FILE_ATTRIBUTE_DIRECTORY when it points at a folder, size 0; it is not
// followed. FindFirstFileA takes a folder followed by "/*" (the only
// pattern this layer knows) and lists "." and ".." like the rest.
#define MAX_PATH 260
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400u
#define IO_REPARSE_TAG_SYMLINK 0xA000000Cu
#define ERROR_NO_MORE_FILES 18u
#define ERROR_WRITE_PROTECT 19u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_DISK_FULL 112u
#define ERROR_INVALID_NAME 123u
#define ERROR_DIR_NOT_EMPTY 145u
#define ERROR_DIRECTORY 267u

typedef struct _WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;  // the reparse tag of a reparse point
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
} WIN32_FIND_DATAA, *PWIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData);
BOOL WINAPI FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData);
BOOL WINAPI FindClose(HANDLE findFile);
DWORD WINAPI GetFileAttributesA(LPCSTR fileName);
BOOL WINAPI CreateDirectoryA(LPCSTR pathName,
                             LPSECURITY_ATTRIBUTES securityAttributes);
BOOL WINAPI RemoveDirectoryA(LPCSTR pathName);
BOOL WINAPI DeleteFileA(LPCSTR fileName);
// Fails with ERROR_ALREADY_EXISTS when newFileName exists; never replaces.
BOOL WINAPI MoveFileA(LPCSTR existingFileName, LPCSTR newFileName);
// Of the three times only the last write time is supported; the others
// must be null.
BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creationTime,
                        const FILETIME* lastAccessTime,
                        const FILETIME* lastWriteTime);
// Makes a name absolute against the current folder and drops "." and
// ".." by the text alone, as Windows does: links are not looked at.
DWORD WINAPI GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer,
                              LPSTR* filePart);

// Code pages (code_page-posix.cpp), over iconv, with the numbers Windows
// gives them. MultiByteToWideChar knows the code pages the header decoder
// names (src/4-message/headers/charsets.cpp) and gives Windows' characters for them,
// also where iconv's tables differ; any other fails with
// ERROR_INVALID_PARAMETER. Without MB_ERR_INVALID_CHARS each byte that
// starts no character becomes U+FFFD (Windows may give a code page's own
// default character instead). WideCharToMultiByte converts to CP_UTF8
// only, unpaired surrogates to U+FFFD (or, with WC_ERR_INVALID_CHARS, a
// failure).
typedef unsigned int UINT;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWCH;
typedef const char* LPCCH;
typedef BOOL* LPBOOL;
#define CP_UTF7 65000u
#define CP_UTF8 65001u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_ERR_INVALID_CHARS 0x00000080u
#define ERROR_INVALID_FLAGS 1004u
#define ERROR_NO_UNICODE_TRANSLATION 1113u

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH multiByteStr,
                               int multiByteLength, LPWSTR wideCharStr,
                               int wideCharLength);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wideCharStr,
                               int wideCharLength, LPSTR multiByteStr,
                               int multiByteLength, LPCCH defaultChar,
                               LPBOOL usedDefaultChar);

// The runtime's case-insensitive comparison of n bytes.
inline int _strnicmp(const char* a, const char* b, size_t n) {
  return strncasecmp(a, b, n);
}
inline int _stricmp(const char* a, const char* b) { return strcasecmp(a, b); }

#endif  // _WIN32

// A link where a name was to be opened without following one (Windows
// knows the code; not every SDK's headers name it).
#ifndef ERROR_STOPPED_ON_SYMLINK
#define ERROR_STOPPED_ON_SYMLINK 681u
#endif

#endif  // KORVANE_PLATFORM_WIN32_H_
