#include "base_builder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace mkbase {

namespace {

// Big enough that a 1 GiB base costs a few hundred writes, small enough
// not to matter for memory.
const size_t kWriteBufferSize = size_t(4) << 20;

}  // namespace

void PutLittleEndian32(std::string* image, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4 && offset + i < image->size(); ++i) {
    (*image)[offset + i] = char((value >> (8 * i)) & 0xff);
  }
}

std::string RecordHeader(uint32_t magic, uint32_t headerSize,
                         uint32_t timeStamp, uint32_t length) {
  std::string header(kRecordHeaderSize, '\0');
  PutLittleEndian32(&header, 0, magic);
  PutLittleEndian32(&header, 4, headerSize);
  PutLittleEndian32(&header, 12, timeStamp);
  PutLittleEndian32(&header, 36, length);
  return header;
}

std::string FileHeader(uint32_t magic, uint32_t headerSize) {
  // Always 3080 bytes: a wrong headerSize is damage to the field, not to
  // the layout.
  std::string header(kFileHeaderSize, '\0');
  PutLittleEndian32(&header, 0, magic);
  PutLittleEndian32(&header, 4, headerSize);
  return header;
}

std::string EncodeRecord(const Record& record) {
  uint32_t length = record.overrideLength ? record.length
                                          : uint32_t(record.text.size());
  return RecordHeader(record.magic, record.headerSize, record.timeStamp,
                      length) +
         record.text;
}

BaseBuilder::BaseBuilder() {}

void BaseBuilder::SetFileHeader(uint32_t magic, uint32_t headerSize) {
  fileMagic = magic;
  fileHeaderSize = headerSize;
  withFileHeader = true;
}

void BaseBuilder::OmitFileHeader() { withFileHeader = false; }

size_t BaseBuilder::AddRecord(const Record& record) {
  recordOffsets.push_back(image.size());
  image += EncodeRecord(record);
  return recordOffsets.size() - 1;
}

size_t BaseBuilder::AddMessage(const std::string& text, uint32_t timeStamp) {
  Record record;
  record.text = text;
  record.timeStamp = timeStamp;
  return AddRecord(record);
}

void BaseBuilder::AddRaw(const std::string& bytes) { image += bytes; }

size_t BaseBuilder::RecordOffset(size_t i) const {
  return (withFileHeader ? size_t(kFileHeaderSize) : 0) + recordOffsets.at(i);
}

size_t BaseBuilder::Size() const {
  return (withFileHeader ? size_t(kFileHeaderSize) : 0) + image.size();
}

std::string BaseBuilder::Build() const {
  if (!withFileHeader) return image;
  return FileHeader(fileMagic, fileHeaderSize) + image;
}

void Truncate(std::string* image, size_t newSize) {
  if (newSize < image->size()) image->resize(newSize);
}

void ZeroRange(std::string* image, size_t offset, size_t count) {
  if (offset >= image->size()) return;
  count = std::min(count, image->size() - offset);
  std::fill_n(image->begin() + offset, count, '\0');
}

void Overwrite(std::string* image, size_t offset, const std::string& bytes) {
  if (offset >= image->size()) return;
  size_t count = std::min(bytes.size(), image->size() - offset);
  std::copy_n(bytes.begin(), count, image->begin() + offset);
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), std::streamsize(bytes.size()));
  out.close();
  return !out.fail();
}

bool ReadFileBytes(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0) return false;
  in.seekg(0, std::ios::beg);
  bytes->assign(size_t(size), '\0');
  if (size > 0) in.read(&(*bytes)[0], size);
  return in.gcount() == size;
}

BaseWriter::~BaseWriter() { Close(); }

bool BaseWriter::Open(const std::string& path, bool withFileHeader,
                      uint32_t magic, uint32_t headerSize) {
  Close();
  recordOffsets.clear();
  size = 0;
  failed = false;
  out.open(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    failed = true;
    return false;
  }
  buffer.reserve(kWriteBufferSize);
  if (withFileHeader) AddRaw(FileHeader(magic, headerSize));
  return true;
}

size_t BaseWriter::AddRecord(const Record& record) {
  recordOffsets.push_back(size);
  uint32_t length = record.overrideLength ? record.length
                                          : uint32_t(record.text.size());
  AddRaw(RecordHeader(record.magic, record.headerSize, record.timeStamp,
                      length));
  AddRaw(record.text);
  return recordOffsets.size() - 1;
}

size_t BaseWriter::AddMessage(const std::string& text, uint32_t timeStamp) {
  Record record;
  record.text = text;
  record.timeStamp = timeStamp;
  return AddRecord(record);
}

void BaseWriter::AddRaw(const std::string& bytes) {
  AddRaw(bytes.data(), bytes.size());
}

void BaseWriter::AddRaw(const char* bytes, size_t count) {
  size += count;
  if (buffer.size() + count > kWriteBufferSize) Flush();
  if (count >= kWriteBufferSize) {
    if (out.is_open()) out.write(bytes, std::streamsize(count));
    return;
  }
  buffer.append(bytes, count);
}

void BaseWriter::Flush() {
  if (!buffer.empty() && out.is_open()) {
    out.write(buffer.data(), std::streamsize(buffer.size()));
  }
  buffer.clear();
}

bool BaseWriter::Close() {
  if (!out.is_open()) return !failed;
  Flush();
  out.close();
  if (out.fail()) failed = true;
  return !failed;
}

bool TruncateFile(const std::string& path, uint64_t newSize) {
  std::error_code error;
  uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return false;
  if (newSize >= size) return true;
  std::filesystem::resize_file(path, newSize, error);
  return !error;
}

bool OverwriteFile(const std::string& path, uint64_t offset,
                   const std::string& bytes) {
  std::error_code error;
  uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return false;
  if (offset >= size || bytes.empty()) return true;
  uint64_t count = std::min<uint64_t>(bytes.size(), size - offset);
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  if (!file) return false;
  file.seekp(std::streamoff(offset));
  file.write(bytes.data(), std::streamsize(count));
  file.close();
  return !file.fail();
}

bool ZeroFileRange(const std::string& path, uint64_t offset, uint64_t count) {
  std::error_code error;
  uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return false;
  if (offset >= size) return true;
  count = std::min<uint64_t>(count, size - offset);
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  if (!file) return false;
  file.seekp(std::streamoff(offset));
  const std::string zeros(size_t(std::min<uint64_t>(count, 1 << 20)), '\0');
  while (count > 0 && file) {
    size_t chunk = size_t(std::min<uint64_t>(count, zeros.size()));
    file.write(zeros.data(), std::streamsize(chunk));
    count -= chunk;
  }
  file.close();
  return !file.fail();
}

std::string UniformBase(int count, size_t size, uint32_t step) {
  BaseBuilder b;
  for (int i = 0; i < count; ++i)
    b.AddMessage("Subject: " + std::to_string(i) + "\r\n\r\n" +
                     std::string(size, char('a' + i % 26)) + "\r\n",
                 1000000000u + step * uint32_t(i));
  return b.Build();
}

}  // namespace mkbase
