#include "platform/system_error.h"

std::string SystemErrorText(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return "no such file";
    case ERROR_PATH_NOT_FOUND:
      return "no such folder";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    case ERROR_SHARING_VIOLATION:
      return "the file is in use by another program";
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
      return "the disk is full";
    case ERROR_WRITE_PROTECT:
      return "the medium is write-protected";
    case ERROR_NO_DATA:
    case ERROR_BROKEN_PIPE:
      return "the reader of the output went away";
    case ERROR_FILE_TOO_LARGE:
      return "the file would be larger than the system allows";
    case ERROR_WRITE_FAULT:
      return "the device refused the write";
    case ERROR_INVALID_NAME:
      return "the name is not valid there";
    case ERROR_DIRECTORY:
      return "not a folder";
    case ERROR_CANT_RESOLVE_FILENAME:
      return "a loop of symbolic links";
    case ERROR_STOPPED_ON_SYMLINK:
      return "it is a symbolic link, which is not followed";
    case ERROR_BAD_FILE_TYPE:
      return "not a regular file";
    case ERROR_DIR_NOT_EMPTY:
      return "the folder is not empty";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return "the file exists already";
    case ERROR_FILENAME_EXCED_RANGE:
      return "the name is too long";
    case ERROR_TOO_MANY_OPEN_FILES:
      return "too many open files";
    case ERROR_NOT_ENOUGH_MEMORY:
      return "not enough memory";
    default:
      return "system error " + std::to_string(code);
  }
}
