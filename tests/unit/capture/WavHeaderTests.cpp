#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "capture/WavHeader.h"

namespace capture {
namespace {

std::uint64_t little(const WavHeader& header, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    value |= static_cast<std::uint64_t>(header[offset + i]) << (8 * i);
  }
  return value;
}

std::string tag(const WavHeader& header, std::size_t offset) {
  return std::string(reinterpret_cast<const char*>(header.data()) + offset, 4);
}

// What a reader makes of the header: it walks the chunks after "WAVE" by their sizes, as ffmpeg
// and sox do, and in RF64 takes the sizes from "ds64" where the 32-bit ones say 0xFFFFFFFF.
struct Reading {
  std::string form;
  std::uint64_t riffSize = 0;
  std::uint64_t dataSize = 0;
  std::uint64_t dataOffset = 0;
  std::uint64_t frames = 0;
  std::map<std::string, std::uint64_t> format;
};

Reading read(const WavHeader& header) {
  Reading reading;
  reading.form = tag(header, 0) + "/" + tag(header, 8);
  reading.riffSize = little(header, 4, 4);
  std::uint64_t ds64Data = 0;
  std::uint64_t ds64Frames = 0;
  const bool rf64 = reading.form == "RF64/WAVE";
  std::size_t offset = 12;
  while (offset + 8 <= header.size()) {
    const std::string id = tag(header, offset);
    const std::uint64_t size = little(header, offset + 4, 4);
    const std::size_t body = offset + 8;
    if (id == "ds64" && rf64) {
      reading.riffSize = little(header, body, 8);
      ds64Data = little(header, body + 8, 8);
      ds64Frames = little(header, body + 16, 8);
    } else if (id == "fmt ") {
      reading.format = {{"tag", little(header, body, 2)},
                        {"channels", little(header, body + 2, 2)},
                        {"rate", little(header, body + 4, 4)},
                        {"byteRate", little(header, body + 8, 4)},
                        {"blockAlign", little(header, body + 12, 2)},
                        {"bits", little(header, body + 14, 2)}};
    } else if (id == "fact") {
      const std::uint64_t frames = little(header, body, 4);
      reading.frames = rf64 && frames == 0xFFFFFFFF ? ds64Frames : frames;
    } else if (id == "data") {
      reading.dataSize = rf64 && size == 0xFFFFFFFF ? ds64Data : size;
      reading.dataOffset = body;
      return reading;
    }
    offset = body + size + (size & 1);
  }
  return reading;
}

// What a reader must take from the header of a file of `data` bytes of samples.
void expectRead(const WavHeader& header, const std::string& form, std::uint64_t data) {
  const Reading reading = read(header);
  EXPECT_EQ(reading.form, form);
  EXPECT_EQ(reading.dataOffset, kWavHeaderSize);
  EXPECT_EQ(reading.dataSize, data);
  // The RIFF size counts the whole file after its own field.
  EXPECT_EQ(reading.riffSize, kWavHeaderSize + data - 8);
  EXPECT_EQ(reading.frames, data / 8);
  const std::map<std::string, std::uint64_t> floatStereo48k = {
      {"tag", 3},           {"channels", 2},   {"rate", 48000},
      {"byteRate", 384000}, {"blockAlign", 8}, {"bits", 32}};
  EXPECT_EQ(reading.format, floatStereo48k);
}

TEST(WavHeader, SizesMatchTheFileAtEachUpdate) {
  for (std::uint64_t data : {0ULL, 8ULL, 384000ULL, 4294967200ULL}) {
    SCOPED_TRACE(data);
    expectRead(wavHeader(data), "RIFF/WAVE", data);
  }
}

TEST(WavHeader, BecomesRf64WhereRiffSizesRunOutWithTheSameLayout) {
  // A limit of 1000 stands in for 4 GiB, so the switch is seen without writing gigabytes.
  const std::uint64_t limit = 1000;
  const std::uint64_t lastRiff = limit - (kWavHeaderSize - 8);
  EXPECT_EQ(read(wavHeader(lastRiff, limit)).form, "RIFF/WAVE");
  for (std::uint64_t data : {std::uint64_t{lastRiff + 8}, std::uint64_t{6000000000}}) {
    SCOPED_TRACE(data);
    const WavHeader header = wavHeader(data, limit);
    expectRead(header, "RF64/WAVE", data);
    EXPECT_EQ(little(header, 4, 4), 0xFFFFFFFFU);
  }
  // The real limit: 4 GiB of samples no longer fit a RIFF size.
  EXPECT_EQ(read(wavHeader(4294967296ULL)).form, "RF64/WAVE");
  EXPECT_EQ(read(wavHeader(4294967296ULL - kWavHeaderSize)).form, "RIFF/WAVE");
}

TEST(WavHeader, AStreamSaysItsSizesAreUnknown) {
  const WavHeader header = streamingWavHeader();
  const Reading reading = read(header);
  EXPECT_EQ(reading.form, "RIFF/WAVE");
  EXPECT_EQ(reading.riffSize, 0xFFFFFFFFU);
  EXPECT_EQ(reading.dataSize, 0xFFFFFFFFU);
  EXPECT_EQ(reading.dataOffset, kWavHeaderSize);
}

}  // namespace
}  // namespace capture
