#include "convert/conversion.h"

#include <memory>

#include "framing/message_writer.h"
#include "io/file_stream.h"
#include "io/mapped_file.h"
#include "kinds/output_kind.h"
#include "platform/system_error.h"
#include "scan/alternative_scanner.h"
#include "scan/normal_scanner.h"
#include "tbb/base_layout.h"

namespace {

class NoProgress : public ConversionProgress {};

// Where the messages of a survey go: nowhere.
class NoSink : public MessageSink {
 public:
  bool MessagesApart() const override { return false; }
  Status WriteBytes(const void*, size_t) override { return Status::Ok(); }
  Status Finish() override { return Status::Ok(); }
  uint64_t BytesWritten() const override { return 0; }
};

// Whether reading the base failed (the pages that failed read as zeros);
// the result then says why.
bool ReadFailed(const MappedFile& base, ConversionResult* result) {
  const char* failure = base.ReadFailure();
  if (failure == nullptr) return false;
  result->outcome = ConversionOutcome::kCantReadBase;
  result->failure = Status::Of(StatusKind::kBadInput, failure);
  return true;
}

// One pass of a scanner over bytes of the base that begin offset bytes
// into it, written through writer.
class ScanPass {
 public:
  ScanPass(const ConversionOptions& options, ConversionProgress* progress,
           const MappedFile& base, ConversionResult* result)
      : observer(options.observer),
        progress(progress),
        base(base),
        result(result),
        tickCount(options.tickCount != nullptr ? options.tickCount
                                               : GetTickCount),
        cancel(options.cancel) {}

  // Writes every message the attached scanner yields. False when the run
  // must stop: a write failed, or the base could not be read.
  bool Run(MessageScanner* scanner, uint64_t offset, MessageWriter* writer,
           FoundBy foundBy, bool first) {
    const bool warnUnusable = !writer->options.alternativeScan;
    auto report = [&]() {
      const uint64_t done =
          offset + uint64_t(scanner->position - scanner->base);
      progress->Advanced(PercentOf(done, base.size), done,
                         uint64_t(result->messages));
    };
    if (first) {
      report();
      lastTick = tickCount();
    }
    const unsigned char* text = nullptr;
    int32_t length = 0;
    FILETIME time = {0, 0};
    MessagePlace place;
    place.foundBy = foundBy;
    const unsigned char* record = scanner->position;
    while (scanner->Next(&text, &length, &time)) {
      if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
        result->outcome = ConversionOutcome::kCancelled;
        return false;
      }
      // A view that failed reads as zeros from then on: what the scan
      // makes of them is not the base.
      if (CheckRead()) return false;
      place.index = ++records;
      if (length <= 0) {
        if (warnUnusable && !result->corruptionWarning) {
          result->corruptionWarning = true;
          progress->CorruptionFound();
        }
        if (observer != nullptr) {
          MessageFacts empty;
          empty.place = place;
          empty.place.offset = uint64_t(record - base.viewBase);
          observer->Record(empty, std::string(),
                           "an empty or broken record, passed over");
        }
        record = scanner->position;
        continue;
      }
      record = scanner->position;
      place.offset = uint64_t(text - base.viewBase);
      if (!writer->WriteMessage(text, length, &time, place)) {
        if (CheckRead()) return false;
        result->outcome = ConversionOutcome::kCantWriteOutput;
        result->failure = writer->WriteError();
        if (observer != nullptr)
          observer->Record(writer->LastFacts(), std::string(),
                           "can't write the output: " + result->failure.Text());
        return false;
      }
      if (observer != nullptr)
        observer->Record(writer->LastFacts(), writer->LastOutput(),
                         std::string());
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

  MessageObserver* observer;
  ConversionProgress* progress;
  const MappedFile& base;
  ConversionResult* result;
  DWORD (*tickCount)();
  const std::atomic<bool>* cancel;
  DWORD lastTick = 0;
  uint32_t records = 0;  // met by the scans, empty ones included
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

// Whether the file name begins with a base's file header: a base given as
// the output by mistake (a shell that expands "*" makes the second name of
// a folder the output), which must not be emptied.
bool IsMessageBase(const char* name) {
  FileStream file;
  if (!file.Open(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                 OPEN_EXISTING))
    return false;
  unsigned char header[8];
  return file.Read(header, 8) == 8 &&
         base_layout::ReadLittleEndian32(header) == base_layout::kFileMagic &&
         base_layout::ReadLittleEndian32(header + 4) ==
             base_layout::kFileHeaderSize;
}

// What a destination that decides each message's fate decided.
void TakeTally(const MessageSink& sink, ConversionResult* result) {
  const DeliveryTally* tally = sink.Tally();
  if (tally == nullptr) return;
  result->tallied = true;
  result->tally = *tally;
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

  FileSystem* fs = OrRealFileSystem(options.fs);
  MappedFile base;
  // The observer is done with the base's bytes before they are unmapped,
  // whichever way the conversion ends.
  struct ObserverFinished {
    MessageObserver* observer;
    ~ObserverFinished() {
      if (observer != nullptr) observer->Finished();
    }
  } observerFinished{options.observer};
  bool emptyBase = false;
  // In a folder, the base is opened by its name there, never through a
  // link, and what was opened is what is told empty.
  if (options.baseFolder != nullptr
          ? !base.OpenIn(fs, *options.baseFolder, baseName)
          : !base.Open(baseName, GENERIC_READ, FILE_SHARE_READ,
                       OPEN_EXISTING)) {
    const DWORD error = GetLastError();
    emptyBase =
        options.recover && !base.tooLarge &&
        (options.baseFolder != nullptr ? base.empty : IsEmptyFile(baseName));
    if (!emptyBase) {
      result.outcome = ConversionOutcome::kCantOpenBase;
      result.baseTooLarge = base.tooLarge;
      result.failure = base.tooLarge ? Status::Of(StatusKind::kBadInput,
                                                  "the file is 4 GiB or larger")
                                     : Status::System(error);
      return result;
    }
  }
  result.bytesRead = base.size;

  if (options.outputFolder == nullptr && !options.outputMustBeNew &&
      !options.countOnly && IsMessageBase(outputName)) {
    result.outcome = ConversionOutcome::kCantCreateOutput;
    result.outputIsBase = true;
    result.failure = Status::Of(StatusKind::kExists, "it is a message base");
    return result;
  }
  std::unique_ptr<Destination> ownDestination;
  Destination* destination = options.destination;
  if (destination == nullptr) {
    ownDestination = DefaultOutputKind().destination(outputName);
    destination = ownDestination.get();
  }
  OutputOptions outputOptions;
  outputOptions.fs = fs;
  outputOptions.folder = options.outputFolder;
  outputOptions.mustBeNew = options.outputMustBeNew;
  outputOptions.madeByCaller = options.outputMade;
  outputOptions.cancel = options.cancel;
  outputOptions.writeBehind = options.writeBehind;
  outputOptions.writeBehindFrom = options.writeBehindFrom;
  std::unique_ptr<MessageSink> sink =
      options.countOnly
          ? std::unique_ptr<MessageSink>(new NoSink)
          : destination->OpenSink(outputName, outputOptions, &result.failure);
  if (!sink) {
    result.outcome = ConversionOutcome::kCantCreateOutput;
    return result;
  }
  if (emptyBase) {
    result.emptyBase = true;
    Status error = sink->Finish();
    if (!error.IsOk()) {
      result.outcome = ConversionOutcome::kCantWriteOutput;
      result.failure = std::move(error);
    }
    TakeTally(*sink, &result);
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

  MessageWriter writer(sink.get(), destination->MessageFraming(),
                       CurrentWriterOptions(!normal));
  ScanPass pass(options, progress, base, &result);
  bool whole = pass.Run(scanner.get(), 0, &writer,
                        normal             ? FoundBy::kNormalScan
                        : result.recovered ? FoundBy::kRecovery
                                           : FoundBy::kAlternativeScan,
                        true);

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
      whole = pass.Run(rest.get(), offset, &writer, FoundBy::kRecovery, false);
    } else {
      whole = !ReadFailed(base, &result);
    }
  }

  // A cancelled output is left unfinished: the sink, destroyed, takes away
  // what has no final name yet.
  if (result.outcome == ConversionOutcome::kCancelled) {
    result.bytesWritten = writer.BytesWritten();
    TakeTally(*sink, &result);
    return result;
  }
  // Finishing hands on the rest and completes the output; a full disk may
  // show only then.
  if (!writer.Finish() && whole) {
    result.outcome = ConversionOutcome::kCantWriteOutput;
    result.failure = writer.WriteError();
  }
  result.bytesWritten = writer.BytesWritten();
  TakeTally(*sink, &result);
  return result;
}
