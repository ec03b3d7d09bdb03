// Micro-benchmarks of the converter's hot paths, in bytes of message base
// per second: the line splitter, the per-message step of the mailbox
// writer, the recovery scan's search for message starts, and what the
// inventory takes of every message (its SHA-256, its header fields).
#include <benchmark/benchmark.h>
#include <stdint.h>
#include <string.h>

#include <map>
#include <string>
#include <tuple>
#include <utility>

#include "base_builder.h"
#include "framing/message_writer.h"
#include "bytes/sha256.h"
#include "headers/header_decoder.h"
#include "headers/header_fields.h"
#include "io/file_stream.h"
#include "mbox/mbox_sink.h"
#include "message/line_splitter.h"
#include "message/plain_blocks.h"
#include "platform/win32.h"
#include "scan/alternative_scanner.h"
#include "scan/normal_scanner.h"
#include "synthetic_messages.h"

namespace {

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// A realistic base of about `bytes` bytes, built once; with listMail, of
// short mailing-list messages.
const std::string& RealisticBase(size_t bytes, bool crlf = true,
                                 bool listMail = false) {
  static std::map<std::tuple<size_t, bool, bool>, std::string> bases;
  std::string& base = bases[std::make_tuple(bytes, crlf, listMail)];
  if (base.empty()) {
    mkbase::BaseBuilder builder;
    mkbase::SyntheticOptions options;
    options.crlf = crlf;
    options.listMail = listMail;
    mkbase::AddSyntheticMessages(&builder, 1, SIZE_MAX, bytes, options);
    base = builder.Build();
  }
  return base;
}

// One long synthetic message: many messages' lines run together.
std::string LongMessage(size_t bytes, bool crlf) {
  mkbase::SyntheticOptions options;
  options.crlf = crlf;
  std::string text;
  for (uint64_t i = 0; text.size() < bytes; ++i)
    mkbase::AppendSyntheticMessage(&text, 1, i, options);
  return text;
}

void BM_SplitLine(benchmark::State& state) {
  const std::string text = LongMessage(size_t(state.range(0)), true);
  const unsigned char* end = Bytes(text) + text.size();
  int64_t lines = 0;
  for (auto _ : state) {
    LineCursor line;
    line.nextLineStart = Bytes(text);
    do {
      SplitLine(line.nextLineStart, &line, end);
      benchmark::DoNotOptimize(line.lineLength);
      ++lines;
    } while (line.nextLineStart != nullptr);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  state.counters["lines"] =
      benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SplitLine)->Arg(64 << 10)->Arg(4 << 20);

// The writer's per-message step for every message of a base, into a file
// that discards what it gets: conversion and hand-over to WriteFile.
void WriterOverBase(benchmark::State& state, bool alternativeScan, bool crlf,
                    PlainBlockConverter convert = BestPlainBlockConverter(),
                    bool listMail = false) {
  const std::string& base =
      RealisticBase(size_t(state.range(0)), crlf, listMail);
  FileStream devNull;
  if (!devNull.Open("/dev/null", GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING)) {
    state.SkipWithError("cannot open /dev/null");
    return;
  }
  WriterOptions options = CurrentWriterOptions(alternativeScan);
  options.convertBlocks = convert;
  MboxSink sink(&devNull);
  MessageWriter writer(&sink, kMboxFraming, options);
  int64_t messages = 0;
  for (auto _ : state) {
    NormalScanner scanner;
    scanner.Attach(Bytes(base), uint32_t(base.size()));
    const unsigned char* text = nullptr;
    int32_t length = 0;
    FILETIME time = {0, 0};
    while (scanner.Next(&text, &length, &time)) {
      if (length > 0 && writer.WriteMessage(text, length, &time)) ++messages;
    }
  }
  if (!writer.Finish()) state.SkipWithError("write failed");
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(base.size()));
  state.counters["messages"] =
      benchmark::Counter(double(messages), benchmark::Counter::kIsRate);
}

void BM_WriterStep(benchmark::State& state) {
  WriterOverBase(state, false, true);
}
BENCHMARK(BM_WriterStep)->Arg(16 << 20);

// With each conversion on its own (the widest one the processor has is
// BM_WriterStep's, named in the context above the table), and with lines
// one by one only.
void WriterWith(benchmark::State& state, BlockConversion kind) {
  if (PlainBlockConverterOf(kind) == nullptr) {
    state.SkipWithError("not on this processor");
    return;
  }
  WriterOverBase(state, false, true, PlainBlockConverterOf(kind));
}

void BM_WriterStepSse2(benchmark::State& state) {
  WriterWith(state, BlockConversion::kSse2);
}
BENCHMARK(BM_WriterStepSse2)->Arg(16 << 20);

void BM_WriterStepAvx2(benchmark::State& state) {
  WriterWith(state, BlockConversion::kAvx2);
}
BENCHMARK(BM_WriterStepAvx2)->Arg(16 << 20);

void BM_WriterStepLineByLine(benchmark::State& state) {
  WriterOverBase(state, false, true, nullptr);
}
BENCHMARK(BM_WriterStepLineByLine)->Arg(16 << 20);

void BM_WriterStepLf(benchmark::State& state) {
  WriterOverBase(state, false, false);
}
BENCHMARK(BM_WriterStepLf)->Arg(16 << 20);

void BM_WriterStepRecoveryRules(benchmark::State& state) {
  WriterOverBase(state, true, true);
}
BENCHMARK(BM_WriterStepRecoveryRules)->Arg(16 << 20);

// Short mailing-list messages: the costs per message and per line show.
void BM_WriterStepListMail(benchmark::State& state) {
  WriterOverBase(state, false, true, BestPlainBlockConverter(), true);
}
BENCHMARK(BM_WriterStepListMail)->Arg(16 << 20);

// FindMessageStart over a whole base, stepping one byte past each start.
void BM_FindMessageStart(benchmark::State& state) {
  const std::string& base = RealisticBase(size_t(state.range(0)));
  int64_t starts = 0;
  for (auto _ : state) {
    AlternativeScanner scanner(0, 2);
    scanner.Attach(Bytes(base), uint32_t(base.size()));
    for (;;) {
      const unsigned char* start = scanner.FindMessageStart();
      if (start == nullptr) break;
      ++starts;
      scanner.position = start + 1;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(base.size()));
  state.counters["starts"] =
      benchmark::Counter(double(starts), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FindMessageStart)->Arg(16 << 20);

// The whole recovery scan: Next, which skips each header block and then
// calls FindMessageStart; range(1) 1: of mailing-list messages, whose
// header blocks are most of their bytes.
void BM_RecoveryScanNext(benchmark::State& state) {
  const std::string& base =
      RealisticBase(size_t(state.range(0)), true, state.range(1) != 0);
  for (auto _ : state) {
    AlternativeScanner scanner(0, 2);
    scanner.Attach(Bytes(base), uint32_t(base.size()));
    const unsigned char* text;
    int32_t length;
    FILETIME time;
    while (scanner.Next(&text, &length, &time))
      benchmark::DoNotOptimize(length);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(base.size()));
}
BENCHMARK(BM_RecoveryScanNext)->Args({16 << 20, 0})->Args({16 << 20, 1});

// SHA-256 over every message of a base, message by message as the
// inventory hashes them; range(0) the base's size, range(1) the engine (0
// portable, 1 the SHA instructions).
void BM_Sha256Messages(benchmark::State& state) {
  const Sha256Engine engine = state.range(1) != 0
                                  ? Sha256Engine::kShaInstructions
                                  : Sha256Engine::kPortable;
  if (!Sha256EngineAvailable(engine)) {
    state.SkipWithError("not on this processor");
    return;
  }
  const std::string& base = RealisticBase(size_t(state.range(0)));
  Sha256 sha(engine);
  for (auto _ : state) {
    NormalScanner scanner;
    scanner.Attach(Bytes(base), uint32_t(base.size()));
    const unsigned char* text;
    int32_t length;
    FILETIME time;
    while (scanner.Next(&text, &length, &time)) {
      sha.Update(text, size_t(length));
      benchmark::DoNotOptimize(sha.Finish());
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(base.size()));
}
BENCHMARK(BM_Sha256Messages)->Args({16 << 20, 0})->Args({16 << 20, 1});

// The inventory's header fields of every message, read and decoded; range(1)
// 1: of mailing-list messages, whose header blocks are most of their bytes.
void BM_HeaderFieldsMessages(benchmark::State& state) {
  const std::string& base =
      RealisticBase(size_t(state.range(0)), true, state.range(1) != 0);
  HeaderField fields[5];
  const char* const names[5] = {"from", "to", "cc", "subject", "message-id"};
  for (int i = 0; i < 5; ++i) fields[i].name = names[i];
  int64_t messages = 0;
  for (auto _ : state) {
    NormalScanner scanner;
    scanner.Attach(Bytes(base), uint32_t(base.size()));
    const unsigned char* text;
    int32_t length;
    FILETIME time;
    while (scanner.Next(&text, &length, &time)) {
      ReadHeaderFields(text, text + length, fields, 5);
      for (int i = 0; i < 4; ++i)
        benchmark::DoNotOptimize(DecodeHeaderValue(fields[i].value));
      ++messages;
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(base.size()));
  state.counters["messages"] =
      benchmark::Counter(double(messages), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HeaderFieldsMessages)->Args({16 << 20, 0})->Args({16 << 20, 1});

}  // namespace

int main(int argc, char** argv) {
  benchmark::AddCustomContext("block conversion",
                              BlockConversionName(BestBlockConversion()));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
