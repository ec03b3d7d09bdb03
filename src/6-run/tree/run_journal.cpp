#include "tree/run_journal.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>

#include "io/mapped_file.h"

const char kJournalName[] = ".korvane-run";

namespace {

const char kFirstLine[] = "korvane-run 1";

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '%') {
      char hex[4];
      snprintf(hex, sizeof hex, "%%%02X", b);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && isxdigit(text[i + 1] & 0xFF) &&
        isxdigit(text[i + 2] & 0xFF)) {
      out += static_cast<char>(
          strtoul(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A line of fields, the first one a word.
std::string Line(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i)
    line += (i == 0 ? fields[i] : "\t" + Escaped(fields[i]));
  return line + "\n";
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(Unescaped(line.substr(start, tab - start)));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

bool Number(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  char* end = nullptr;
  *value = strtoull(text.c_str(), &end, 10);
  return *end == '\0' && text[0] >= '0' && text[0] <= '9';
}

std::string RunLine(const WriterRun& run) {
  return Line({"run", std::to_string(run.process), run.host});
}

// One line of the journal into contents; false for one that cannot be.
bool Read(const std::vector<std::string>& f, JournalContents* c) {
  uint64_t a = 0, b = 0;
  const std::string& word = f[0];
  if (word == "root" && f.size() == 4 && Number(f[1], &a) && Number(f[2], &b)) {
    c->command.root.device = a;
    c->command.root.index = b;
    c->command.rootName = f[3];
  } else if (word == "output" && f.size() == 2) {
    c->command.kind = f[1];
  } else if (word == "scan" && f.size() == 2) {
    c->command.scan = f[1];
  } else if (word == "run" && f.size() == 3 && Number(f[1], &a)) {
    c->runs.push_back({static_cast<DWORD>(a), f[2]});
  } else if (word == "place" && f.size() == 5) {
    c->places.push_back({f[1], f[2], f[3], f[4]});
  } else if (word == "placed" && f.size() == 1) {
    c->placed = true;
  } else if (word == "done" && f.size() == 4 && Number(f[3], &a)) {
    c->done.push_back({f[1], f[2], static_cast<int32_t>(a)});
  } else if (word == "end" && f.size() == 2 && Number(f[1], &a)) {
    c->ended = true;
    c->status = static_cast<int>(a);
  } else {
    return false;
  }
  return true;
}

}  // namespace

DWORD ReadJournal(FileSystem* fs, const Folder& outDir,
                  JournalContents* contents) {
  *contents = JournalContents();
  MappedFile file;
  if (!file.OpenIn(fs, outDir, kJournalName))
    return file.empty ? ERROR_SUCCESS : GetLastError();
  const std::string text(reinterpret_cast<const char*>(file.viewBase),
                         file.size);
  if (file.ReadFailure() != nullptr) return ERROR_READ_FAULT;
  size_t start = 0;
  bool first = true;
  for (;;) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // cut off while it was written
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (first ? line != kFirstLine : !Read(Fields(line), contents))
      return ERROR_FILE_INVALID;
    first = false;
  }
  // The first lines are written at once, or none of them.
  contents->begun = !first;
  return first || !contents->command.scan.empty() ? ERROR_SUCCESS
                                                  : ERROR_FILE_INVALID;
}

DWORD RunJournal::Create(FileSystem* fs, const Folder& outDir,
                         const RunCommand& command) {
  error_ = fs->CreateNewFile(outDir, kJournalName, &file_);
  return Append(std::string(kFirstLine) + "\n" +
                Line({"root", std::to_string(command.root.device),
                      std::to_string(command.root.index), command.rootName}) +
                Line({"output", command.kind}) + Line({"scan", command.scan}) +
                RunLine(CurrentWriterRun()));
}

DWORD RunJournal::Continue(FileSystem* fs, const Folder& outDir) {
  error_ = fs->OpenForAppending(outDir, kJournalName, &file_);
  return Append(RunLine(CurrentWriterRun()));
}

DWORD RunJournal::Placed(const TreeFolders& folders) {
  std::string lines;
  for (const TreeFolder& f : folders)
    if (!f.output.empty())
      lines += Line({"place", f.path, f.baseName, f.output, f.renamedBecause});
  return Append(lines + "placed\n");
}

DWORD RunJournal::Done(const TreeFolder& folder) {
  return Append(Line({"done", folder.path, folder.baseName,
                      std::to_string(folder.result.messages)}));
}

DWORD RunJournal::Ended(int status) {
  if (Append(Line({"end", std::to_string(status)})) == ERROR_SUCCESS && file_)
    error_ = file_->Close();
  file_.reset();
  return error_;
}

DWORD RunJournal::Append(const std::string& lines) {
  if (error_ == ERROR_SUCCESS && !file_) error_ = ERROR_INVALID_HANDLE;
  if (error_ == ERROR_SUCCESS)
    error_ = file_->Write(lines.data(), lines.size());
  if (error_ == ERROR_SUCCESS) error_ = file_->Flush();
  return error_;
}
