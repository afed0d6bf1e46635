// The frame loop over one window's frames in memory, and the window loop
// over a source held in memory, written to /dev/null, for every sample
// width, against memcpy of as many bytes. The bytes processed are the stereo
// bytes made.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "wav_buffer.h"
#include "wav_info.h"
#include "wav_samples.h"
#include "wav_stereo.h"
#include "wav_write.h"

namespace {

constexpr std::uint32_t kRate = 48000;

// A job with a source of sourceSize bytes of the given width in memory and
// its window, every byte of both touched once.
StereoJob jobMake(std::size_t sourceSize, std::uint16_t bits, float delay) {
  StereoJob job;
  job.delay = delay;
  job.in.sampleRate = job.out.sampleRate = kRate;
  job.in.bitsPerSample = job.out.bitsPerSample = bits;
  job.in.channels = 1;
  job.out.channels = 2;
  job.in.dataSize = static_cast<std::uint32_t>(sourceSize);
  job.out.dataSize = static_cast<std::uint32_t>(2 * sourceSize);
  job.in.data = wavBufferAlloc(job.in.dataSize);
  job.window = wavBufferAlloc(kWavWindowSize);
  if (job.in.data && job.window) {
    for (std::size_t i = 0; i < sourceSize; ++i) job.in.data[i] = static_cast<std::uint8_t>(i * 131u);
    std::memset(job.window.get(), 0, kWavWindowSize);
  }
  return job;
}

// Arguments: source bytes, delay in microseconds (the delays of a run, one
// longer than the source, negative ones).
void windowLoop(benchmark::State &state, std::uint16_t bits) {
  const auto size = static_cast<std::size_t>(state.range(0));
  StereoJob job = jobMake(size, bits, static_cast<float>(state.range(1)) * 1e-6f);
  std::FILE *sink = std::fopen("/dev/null", "wb");
  if (!job.in.data || !job.window || !sink) {
    state.SkipWithError("no memory or no /dev/null");
    if (sink) std::fclose(sink);
    return;
  }
  for (auto _ : state) {
    WavSamplesReader samples;
    wavSamplesOpen(job.in, samples);
    if (wavDataWrite(sink, samples, job) != 0) state.SkipWithError("write failed");
    wavSamplesClose(samples);
  }
  std::fclose(sink);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * job.out.dataSize);
}

// The frame loop alone over the frames of one window, as the window loop
// calls it: the source samples and the stereo frames in the caches.
// Argument: the delay in microseconds.
void frameLoop(benchmark::State &state, std::size_t width) {
  const std::size_t frames = kWavWindowSize / 2 / (2 * width);
  StereoJob job = jobMake(frames * width, static_cast<std::uint16_t>(8 * width), 0.0f);
  if (!job.in.data || !job.window) {
    state.SkipWithError("no memory");
    return;
  }
  const std::int32_t delay = wavDelayFrames(kRate, static_cast<float>(state.range(0)) * 1e-6f);
  const WavDelayedRange delayed = wavDelayedRange(frames, delay);
  const std::uint8_t *source = job.in.data.get();
  const auto from = static_cast<std::int64_t>(delayed.begin) - delay;
  const std::uint8_t *right =
      delayed.begin == delayed.end ? source : source + from * static_cast<std::int64_t>(width);
  for (auto _ : state) {
    wavStereo(width, source, right, job.window.get(), frames, delayed);
    benchmark::DoNotOptimize(job.window.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 2 * frames * width));
}

// memcpy writing as many bytes as the frame loop does, from a source as
// large as the output.
void memcpySame(benchmark::State &state) {
  const auto size = 2 * static_cast<std::size_t>(state.range(0));
  WavBuffer from = wavBufferAlloc(size);
  WavBuffer to = wavBufferAlloc(size);
  if (!from || !to) {
    state.SkipWithError("no memory");
    return;
  }
  std::memset(from.get(), 1, size);
  std::memset(to.get(), 0, size);
  for (auto _ : state) {
    std::memcpy(to.get(), from.get(), size);
    benchmark::DoNotOptimize(to.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * size);
}

// 64 KiB stays in the first-level caches; 256 KiB is the source of one of
// the writer's windows at any width (a few bytes less at 24 bits), whose
// frames stay in the second level; 64 MiB of source does not fit the last
// level.
constexpr std::int64_t kSizes[] = {64 << 10, 256 << 10, 64 << 20};
constexpr std::int64_t kDelays[] = {0, 30000, -10000, 10000000000};

void delayArgs(benchmark::internal::Benchmark *bench) {
  for (const std::int64_t size : kSizes)
    for (const std::int64_t delay : kDelays) bench->Args({size, delay});
}

void sizeArgs(benchmark::internal::Benchmark *bench) {
  for (const std::int64_t size : kSizes) bench->Args({size});
}

void frameDelayArgs(benchmark::internal::Benchmark *bench) {
  for (const std::int64_t delay : kDelays) bench->Args({delay});
}

}  // namespace

// Sample widths in bytes: 8-bit PCM, A-law and µ-law; 16-bit; 24-bit; 32-bit
// PCM and float; 64-bit float.
BENCHMARK_CAPTURE(frameLoop, 8, 1)->Apply(frameDelayArgs)->ArgNames({"delay_us"});
BENCHMARK_CAPTURE(frameLoop, 16, 2)->Apply(frameDelayArgs)->ArgNames({"delay_us"});
BENCHMARK_CAPTURE(frameLoop, 24, 3)->Apply(frameDelayArgs)->ArgNames({"delay_us"});
BENCHMARK_CAPTURE(frameLoop, 32, 4)->Apply(frameDelayArgs)->ArgNames({"delay_us"});
BENCHMARK_CAPTURE(frameLoop, 64, 8)->Apply(frameDelayArgs)->ArgNames({"delay_us"});
BENCHMARK_CAPTURE(windowLoop, 8, 8)->Apply(delayArgs)->ArgNames({"bytes", "delay_us"});
BENCHMARK_CAPTURE(windowLoop, 16, 16)->Apply(delayArgs)->ArgNames({"bytes", "delay_us"});
BENCHMARK_CAPTURE(windowLoop, 24, 24)->Apply(delayArgs)->ArgNames({"bytes", "delay_us"});
BENCHMARK_CAPTURE(windowLoop, 32, 32)->Apply(delayArgs)->ArgNames({"bytes", "delay_us"});
BENCHMARK_CAPTURE(windowLoop, 64, 64)->Apply(delayArgs)->ArgNames({"bytes", "delay_us"});
BENCHMARK(memcpySame)->Apply(sizeArgs)->ArgNames({"bytes"});

BENCHMARK_MAIN();
