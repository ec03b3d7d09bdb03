#include "destination/folder_destination.h"

#include "framing/write_behind_sink.h"
#include "io/paths.h"

std::unique_ptr<MessageSink> FolderDestination::OpenSink(
    const std::string& name, const OutputOptions& options, Status* why) {
  std::unique_ptr<MessageSink> sink = kind.create(name, options, why);
  // A stream's bytes may be written by a thread of their own.
  if (sink && kind.streamed &&
      (options.writeBehind || options.writeBehindFrom != nullptr))
    sink.reset(new WriteBehindSink(
        std::move(sink),
        options.writeBehind ? nullptr : options.writeBehindFrom));
  return sink;
}

std::string FolderDestination::CantCreate(const std::string& name,
                                          const Status& why) const {
  if (kind.noun == nullptr) return "can't open " + name + " for write";
  return std::string("can't create ") + kind.noun + " " + name + ": " +
         why.Text();
}

std::unique_ptr<TreeLayout> FolderDestination::Layout(FileSystem* fs, Status*) {
  return kind.layout(fs);
}

std::string FolderDestination::InventoryPrefix(
    const std::string& output) const {
  if (!kind.streamed) return Destination::InventoryPrefix(output);
  // A message of a stream is told by its entry's byte offset in the file.
  std::string place = output == "." ? std::string() : output;
  for (char& c : place)
    if (IsPathSeparator(c)) c = '/';
  return place + ":";
}
