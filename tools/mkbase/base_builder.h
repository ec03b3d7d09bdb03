// Builds message bases (.tbb) for tests, the demo and the benchmarks: sound
// ones, and the damaged forms that the recovery scan has to cope with.
#ifndef KORVANE_MKBASE_BASE_BUILDER_H_
#define KORVANE_MKBASE_BASE_BUILDER_H_

#include <stddef.h>
#include <stdint.h>

#include <fstream>
#include <string>
#include <vector>

namespace mkbase {

const uint32_t kFileMagic = 0x19790620u;
const uint32_t kFileHeaderSize = 3080;
const uint32_t kRecordMagic = 0x19700921u;
const uint32_t kRecordHeaderSize = 48;

// One record: a 48-byte header and the message text. The header fields can
// be set to wrong values to make damaged records.
struct Record {
  std::string text;
  uint32_t timeStamp = 0;
  uint32_t magic = kRecordMagic;
  uint32_t headerSize = kRecordHeaderSize;
  // The length field; by default the size of text.
  bool overrideLength = false;
  uint32_t length = 0;
};

// The 48 bytes of a record header.
std::string RecordHeader(uint32_t magic, uint32_t headerSize,
                         uint32_t timeStamp, uint32_t length);

// The 3080 bytes of a file header (the uninterpreted part is zero).
std::string FileHeader(uint32_t magic = kFileMagic,
                       uint32_t headerSize = kFileHeaderSize);

// Assembles a base in memory: a file header, then the pieces in the order
// they were added (records, and raw bytes such as zero runs or garbage
// between records).
class BaseBuilder {
 public:
  BaseBuilder();

  void SetFileHeader(uint32_t magic, uint32_t headerSize);
  // Leaves the file header out: the base starts with the first piece.
  void OmitFileHeader();

  // Returns the index of the record (0, 1, ...).
  size_t AddRecord(const Record& record);
  // Convenience: a sound record of the given text and time stamp.
  size_t AddMessage(const std::string& text, uint32_t timeStamp);
  void AddRaw(const std::string& bytes);

  // File offset of record i's header in the built image.
  size_t RecordOffset(size_t i) const;
  // File offset of record i's text.
  size_t TextOffset(size_t i) const { return RecordOffset(i) + 48; }
  size_t RecordCount() const { return recordOffsets.size(); }
  // Size of the built image.
  size_t Size() const;

  std::string Build() const;

 private:
  std::string image;  // everything but the file header
  std::vector<size_t> recordOffsets;  // offsets within image
  uint32_t fileMagic = kFileMagic;
  uint32_t fileHeaderSize = kFileHeaderSize;
  bool withFileHeader = true;
};

// Damage applied to a built image. Offsets beyond the image are clipped.
void Truncate(std::string* image, size_t newSize);
void ZeroRange(std::string* image, size_t offset, size_t count);
void Overwrite(std::string* image, size_t offset, const std::string& bytes);
void PutLittleEndian32(std::string* image, size_t offset, uint32_t value);

// Writes bytes to a file; false on any failure.
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// Reads a whole file; false on any failure.
bool ReadFileBytes(const std::string& path, std::string* bytes);

// The 48-byte header and the text of a record, as they lie in a base.
std::string EncodeRecord(const Record& record);

// Writes a base straight to a file, for bases too big to hold in memory.
// Produces the same bytes as BaseBuilder given the same calls.
class BaseWriter {
 public:
  BaseWriter() {}
  ~BaseWriter();
  BaseWriter(const BaseWriter&) = delete;
  BaseWriter& operator=(const BaseWriter&) = delete;

  // Creates (or empties) the file and writes the file header, if any.
  bool Open(const std::string& path, bool withFileHeader = true,
            uint32_t magic = kFileMagic, uint32_t headerSize = kFileHeaderSize);

  size_t AddRecord(const Record& record);
  size_t AddMessage(const std::string& text, uint32_t timeStamp);
  void AddRaw(const std::string& bytes);
  void AddRaw(const char* bytes, size_t count);

  // Bytes written so far, file header included.
  uint64_t Size() const { return size; }
  uint64_t RecordOffset(size_t i) const { return recordOffsets.at(i); }
  uint64_t TextOffset(size_t i) const { return RecordOffset(i) + 48; }
  size_t RecordCount() const { return recordOffsets.size(); }

  // Flushes and closes; false if any write since Open failed.
  bool Close();

 private:
  void Flush();

  std::ofstream out;
  std::string buffer;
  std::vector<uint64_t> recordOffsets;
  uint64_t size = 0;
  bool failed = false;
};

// A base of count messages, each a Subject line with its number and size
// bytes of one letter, stamped 1000000000 plus step seconds apart: bases
// of any size and number of messages for the tests.
std::string UniformBase(int count, size_t size, uint32_t step);

// Damage applied to a base file in place, clipped like the functions above.
// Truncating never makes a file longer. Each is false on I/O failure.
bool TruncateFile(const std::string& path, uint64_t newSize);
bool OverwriteFile(const std::string& path, uint64_t offset,
                   const std::string& bytes);
bool ZeroFileRange(const std::string& path, uint64_t offset, uint64_t count);

}  // namespace mkbase

#endif  // KORVANE_MKBASE_BASE_BUILDER_H_
