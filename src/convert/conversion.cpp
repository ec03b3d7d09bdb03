#include "convert/conversion.h"

#include <memory>

#include "io/file_stream.h"
#include "io/mapped_file.h"
#include "maildir/maildir_folder.h"
#include "mbox/mailbox_writer.h"
#include "platform/system_error.h"
#include "scan/alternative_scanner.h"
#include "scan/normal_scanner.h"

namespace {

class NoProgress : public ConversionProgress {};

// Makes folder a Maildir to write into: it may be missing, an empty folder
// or a Maildir without messages; anything else stays as it is. One that
// the caller made is taken as it is.
bool PrepareMaildir(const char* folder, bool made, ConversionResult* result) {
  DWORD error = ERROR_SUCCESS;
  switch (made ? MaildirTarget::kEmptyMaildir
               : InspectMaildirTarget(folder, &error)) {
    case MaildirTarget::kMissing:
    case MaildirTarget::kEmptyFolder:
    case MaildirTarget::kEmptyMaildir:
      error = CreateMaildir(folder, false);
      break;
    case MaildirTarget::kNotEmpty:
      result->reason = "it is neither an empty folder nor an empty Maildir";
      break;
    case MaildirTarget::kNotAFolder:
      result->reason = "it is not a folder";
      break;
    case MaildirTarget::kUnreadable:
      break;
  }
  if (result->reason.empty() && error == ERROR_SUCCESS) return true;
  result->outcome = ConversionOutcome::kCantCreateOutput;
  if (result->reason.empty()) result->reason = SystemErrorText(error);
  return false;
}

// Whether reading the base failed (the pages that failed read as zeros);
// the result then says why.
bool ReadFailed(const MappedFile& base, ConversionResult* result) {
  const char* failure = base.ReadFailure();
  if (failure == nullptr) return false;
  result->outcome = ConversionOutcome::kCantReadBase;
  result->reason = failure;
  return true;
}

// One pass of a scanner over bytes of the base that begin offset bytes
// into it, written through writer.
class ScanPass {
 public:
  ScanPass(const ConversionOptions& options, ConversionProgress* progress,
           const MappedFile& base, ConversionResult* result)
      : progress(progress),
        base(base),
        result(result),
        tickCount(options.tickCount != nullptr ? options.tickCount
                                               : GetTickCount) {}

  // Writes every message the attached scanner yields. False when the run
  // must stop: a write failed, or the base could not be read.
  bool Run(MessageScanner* scanner, uint64_t offset, MailboxWriter* writer,
           bool first) {
    const bool warnUnusable = !writer->options.alternativeScan;
    auto report = [&]() {
      const uint64_t done =
          offset + uint64_t(scanner->position - scanner->base);
      progress->Advanced(PercentOf(done, base.size), done);
    };
    if (first) {
      report();
      lastTick = tickCount();
    }
    const unsigned char* text = nullptr;
    int32_t length = 0;
    FILETIME time = {0, 0};
    while (scanner->Next(&text, &length, &time)) {
      // A view that failed reads as zeros from then on: what the scan
      // makes of them is not the base.
      if (CheckRead()) return false;
      if (length <= 0) {
        if (warnUnusable && !result->corruptionWarning) {
          result->corruptionWarning = true;
          progress->CorruptionFound();
        }
        continue;
      }
      if (!writer->WriteMessage(text, length, &time)) {
        if (CheckRead()) return false;
        result->outcome = ConversionOutcome::kCantWriteOutput;
        result->reason = SystemErrorText(writer->WriteError());
        return false;
      }
      ++result->messages;
      if (DWORD(tickCount() - lastTick) > 100) {
        report();
        lastTick = tickCount();
      }
    }
    return !CheckRead();
  }

 private:
  bool CheckRead() { return ReadFailed(base, result); }

  ConversionProgress* progress;
  const MappedFile& base;
  ConversionResult* result;
  DWORD (*tickCount)();
  DWORD lastTick = 0;
};

std::unique_ptr<MessageScanner> MakeAlternativeScanner(
    const ConversionOptions& options) {
  return std::unique_ptr<MessageScanner>(new AlternativeScanner(
      options.minHeaderSize, options.compatibilityLevel));
}

// A base that cannot be mapped because it holds no byte at all.
bool IsEmptyFile(const char* name) {
  FileStream file;
  return file.Open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING) &&
         file.GetSize() == 0;
}

}  // namespace

unsigned PercentOf(uint64_t done, uint64_t total) {
  return total == 0 ? 0 : static_cast<unsigned>(done * 100 / total);
}

ConversionResult ConvertBase(const char* baseName, const char* outputName,
                             const ConversionOptions& options,
                             ConversionProgress* progress) {
  NoProgress silent;
  if (progress == nullptr) progress = &silent;
  ConversionResult result;
  result.scan =
      options.alternativeScan ? ScanKind::kAlternative : ScanKind::kNormal;

  MappedFile base;
  bool emptyBase = false;
  if (!base.Open(baseName, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)) {
    const DWORD error = GetLastError();
    emptyBase = options.recover && !base.tooLarge && IsEmptyFile(baseName);
    if (!emptyBase) {
      result.outcome = ConversionOutcome::kCantOpenBase;
      result.baseTooLarge = base.tooLarge;
      result.reason = base.tooLarge ? "the file is 4 GiB or larger"
                                    : SystemErrorText(error);
      return result;
    }
  }
  result.bytesRead = base.size;

  FileStream output;
  std::unique_ptr<MaildirDelivery> maildir;
  if (options.format == OutputFormat::kMaildir) {
    if (!PrepareMaildir(outputName, options.maildirMade, &result))
      return result;
    maildir.reset(new MaildirDelivery(outputName));
  } else if (!output.Open(
                 outputName, GENERIC_WRITE, FILE_SHARE_READ,
                 options.outputMustBeNew ? CREATE_NEW : CREATE_ALWAYS)) {
    result.outcome = ConversionOutcome::kCantCreateOutput;
    result.reason = SystemErrorText(GetLastError());
    return result;
  }
  if (emptyBase) {
    result.emptyBase = true;
    if (!maildir && !output.Close()) {
      result.outcome = ConversionOutcome::kCantWriteOutput;
      result.reason = SystemErrorText(GetLastError());
    }
    return result;
  }

  std::unique_ptr<MessageScanner> scanner;
  NormalScanner* normal = nullptr;
  if (options.alternativeScan) {
    scanner = MakeAlternativeScanner(options);
  } else {
    normal = new NormalScanner();
    scanner.reset(normal);
  }
  progress->ScanStarting(result.scan);
  if (!scanner->Attach(base.viewBase, base.size)) {
    if (ReadFailed(base, &result)) return result;
    if (normal == nullptr || !options.recover) {
      result.outcome = normal != nullptr ? ConversionOutcome::kNotRecognised
                                         : ConversionOutcome::kNothingFound;
      return result;
    }
    // Not a base the record chain can be walked in: search it all.
    normal = nullptr;
    scanner = MakeAlternativeScanner(options);
    result.scan = ScanKind::kAlternative;
    result.recovered = true;
    progress->ScanStarting(result.scan);
    if (!scanner->Attach(base.viewBase, base.size)) {
      if (ReadFailed(base, &result)) return result;
      result.outcome = ConversionOutcome::kNothingFound;
      return result;
    }
  }

  WriterOptions writerOptions = CurrentWriterOptions(!normal);
  writerOptions.writeBehind = options.writeBehind;
  writerOptions.writeBehindFrom = options.writeBehindFrom;
  std::unique_ptr<MailboxWriter> writerOwner(
      maildir ? new MailboxWriter(maildir.get(), writerOptions)
              : new MailboxWriter(&output, writerOptions));
  MailboxWriter& writer = *writerOwner;
  ScanPass pass(options, progress, base, &result);
  bool whole = pass.Run(scanner.get(), 0, &writer, true);

  // The walk broke off at a record it cannot use: the messages behind it
  // are lost to it, so the rest of the base, from that record on, goes to
  // the alternative scan as a base of its own.
  if (whole && options.recover && normal != nullptr &&
      normal->brokenRecord != nullptr) {
    const uint64_t offset = uint64_t(normal->brokenRecord - base.viewBase);
    result.scan = ScanKind::kRecovered;
    result.recovered = true;
    progress->ScanStarting(result.scan);
    std::unique_ptr<MessageScanner> rest = MakeAlternativeScanner(options);
    if (rest->Attach(normal->brokenRecord,
                     static_cast<uint32_t>(base.size - offset))) {
      writer.options.alternativeScan = true;
      whole = pass.Run(rest.get(), offset, &writer, false);
    } else {
      whole = !ReadFailed(base, &result);
    }
  }

  if (!writer.Finish() && whole) {
    whole = false;
    result.outcome = ConversionOutcome::kCantWriteOutput;
    result.reason = SystemErrorText(writer.WriteError());
  }
  result.bytesWritten = writer.BytesWritten();
  // The layer holds the last block of the output until it is closed, so a
  // full disk may show only here.
  if (!maildir && !output.Close() && whole) {
    result.outcome = ConversionOutcome::kCantWriteOutput;
    result.reason = SystemErrorText(GetLastError());
  }
  return result;
}
