// korvane-mkbase: packs message files, or synthetic messages, into a
// message base, and damages it on request. See kUsage in mkbase_options.cpp.
#include <stdint.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "base_builder.h"
#include "mkbase_damage.h"
#include "mkbase_options.h"
#include "synthetic_messages.h"

namespace fs = std::filesystem;

namespace {

using mkbase::Options;
using mkbase::UsageError;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return text;
}

// The message files named by the inputs, in the order they go in the base.
std::vector<fs::path> MessageFiles(const std::vector<std::string>& inputs) {
  std::vector<fs::path> files;
  for (const std::string& input : inputs) {
    std::error_code error;
    const fs::file_status status = fs::status(input, error);
    if (fs::is_directory(status)) {
      std::vector<fs::path> found;
      for (const fs::directory_entry& entry : fs::directory_iterator(input)) {
        const fs::path& path = entry.path();
        const std::string name = path.filename().string();
        if (!entry.is_regular_file() || name.empty() || name[0] == '.')
          continue;
        if (Lower(path.extension().string()) != ".eml") continue;
        found.push_back(path);
      }
      // Byte order of the names, the same on every system.
      std::sort(found.begin(), found.end(),
                [](const fs::path& a, const fs::path& b) {
                  return a.filename().string() < b.filename().string();
                });
      if (found.empty()) {
        std::cerr << "korvane-mkbase: warning: no .eml files in " << input
                  << "\n";
      }
      files.insert(files.end(), found.begin(), found.end());
    } else if (fs::is_regular_file(status)) {
      files.push_back(input);
    } else {
      throw UsageError{"no such file or directory: " + input};
    }
  }
  return files;
}

int Run(const Options& options) {
  const std::vector<fs::path> files = MessageFiles(options.inputs);

  // Catch bad indices before writing, when the record count is known.
  const bool countKnown = !options.haveSyntheticBytes;
  if (countKnown) {
    const uint64_t synthetic =
        options.haveSyntheticCount ? options.syntheticCount : 0;
    const uint64_t count = std::min<uint64_t>(
        SIZE_MAX - 1,
        synthetic + std::min<uint64_t>(files.size(), UINT64_MAX - synthetic));
    const std::string missing = mkbase::MissingRecord(options, size_t(count));
    if (!missing.empty()) throw UsageError{missing};
  }

  mkbase::DamagingWriter builder(options);
  if (!builder.Open()) {
    std::cerr << "korvane-mkbase: cannot write " << options.output << "\n";
    return 1;
  }
  std::string text;
  for (const fs::path& file : files) {
    if (!mkbase::ReadFileBytes(file.string(), &text)) {
      std::cerr << "korvane-mkbase: cannot read " << file.string() << "\n";
      builder.Finish();
      fs::remove(options.output);
      return 1;
    }
    builder.Add(&text);
  }

  if (options.haveSyntheticCount || options.haveSyntheticBytes) {
    mkbase::SyntheticOptions synthetic;
    synthetic.crlf = !options.lf;
    synthetic.listMail = options.listMail;
    synthetic.rough = options.rough;
    synthetic.step = options.step;
    synthetic.startTime =
        uint32_t(options.start + uint64_t(files.size()) * options.step);
    const uint64_t count =
        options.haveSyntheticCount ? options.syntheticCount : UINT64_MAX;
    const uint64_t maxBytes =
        options.haveSyntheticBytes ? options.syntheticBytes : UINT64_MAX;
    for (uint64_t i = 0; i < count; ++i) {
      text.clear();
      mkbase::AppendSyntheticMessage(&text, options.seed, i, synthetic);
      if (builder.Size() + mkbase::kRecordHeaderSize + text.size() > maxBytes) {
        break;
      }
      builder.Add(&text);
    }
  }

  const size_t count = builder.RecordCount();
  if (!builder.Finish()) {
    std::cerr << "korvane-mkbase: error writing " << options.output << "\n";
    return 1;
  }
  const std::string missing = mkbase::MissingRecord(options, count);
  if (!missing.empty()) {
    fs::remove(options.output);
    throw UsageError{missing};
  }
  if (!mkbase::ApplyFileOperations(options)) {
    std::cerr << "korvane-mkbase: error damaging " << options.output << "\n";
    return 1;
  }
  if (!options.quiet) {
    std::error_code error;
    std::cout << options.output << ": " << count << " records, "
              << fs::file_size(options.output, error) << " bytes\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(mkbase::ParseArguments(argc, argv));
  } catch (const UsageError& error) {
    std::cerr << "korvane-mkbase: " << error.message
              << "\n(korvane-mkbase --help tells how to use it)\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "korvane-mkbase: " << error.what() << "\n";
    return 1;
  }
}
