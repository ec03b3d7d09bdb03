// The table of live handles and the per-thread last error.
#include "platform/handle_table-posix.h"

#include <unordered_map>

namespace win32_posix {

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

struct Table {
  std::mutex mutex;  // guards live, never held across a system call
  std::unordered_map<const Object*, std::shared_ptr<Object>> live;
};

// Never destroyed: handles may still be closed from exit handlers.
Table& Handles() {
  static Table* table = new Table;
  return *table;
}

std::shared_ptr<Object> Find(HANDLE handle, Object::Kind kind) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  Table& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.live.find(static_cast<const Object*>(handle));
  if (it == table.live.end() || it->second->kind != kind) return nullptr;
  return it->second;
}

template <typename T>
Held<T> Hold(HANDLE handle, Object::Kind kind) {
  std::shared_ptr<Object> object = Find(handle, kind);
  if (object != nullptr) {
    std::unique_lock<std::mutex> lock(object->mutex);
    if (!object->closed)
      return Held<T>(std::static_pointer_cast<T>(std::move(object)),
                     std::move(lock));
  }
  Fail(ERROR_INVALID_HANDLE);
  return Held<T>();
}

}  // namespace

void Fail(DWORD code) { t_lastError = code; }

HANDLE AddHandle(std::shared_ptr<Object> object) {
  Table& table = Handles();
  std::lock_guard<std::mutex> lock(table.mutex);
  const Object* key = object.get();
  table.live.emplace(key, std::move(object));
  return const_cast<Object*>(key);
}

std::shared_ptr<Object> RemoveHandle(HANDLE handle) {
  std::shared_ptr<Object> object;
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
    Table& table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.live.find(static_cast<const Object*>(handle));
    if (it != table.live.end()) {
      object = std::move(it->second);
      table.live.erase(it);
    }
  }
  if (object == nullptr) Fail(ERROR_INVALID_HANDLE);
  return object;
}

Held<File> HoldFile(HANDLE handle) { return Hold<File>(handle, Object::kFile); }

Held<Mapping> HoldMapping(HANDLE handle) {
  return Hold<Mapping>(handle, Object::kMapping);
}

}  // namespace win32_posix

DWORD WINAPI GetLastError(void) { return win32_posix::t_lastError; }

void WINAPI SetLastError(DWORD errorCode) {
  win32_posix::t_lastError = errorCode;
}
