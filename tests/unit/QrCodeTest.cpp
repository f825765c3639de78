// QR codes made by qrencode at test time, read back through the decoder the front ends share.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "oath/QrCode.h"

namespace {

constexpr int kModulePixels = 4;

struct PipeClose {
  void operator()(FILE* pipe) const { ::pclose(pipe); }
};

// The modules of `text`'s QR code, as qrencode draws them in text: two '#' per dark module.
std::vector<std::string> QrRows(const std::string& text) {
  const std::string command = "qrencode -t ASCII -o - '" + text + "'";
  std::unique_ptr<FILE, PipeClose> pipe(::popen(command.c_str(), "r"));
  std::vector<std::string> rows;
  if (!pipe) return rows;
  std::array<char, 1024> line{};
  while (std::fgets(line.data(), static_cast<int>(line.size()), pipe.get()) != nullptr) {
    std::string row(line.data());
    while (!row.empty() && (row.back() == '\n' || row.back() == '\r')) row.pop_back();
    rows.push_back(row);
  }
  return rows;
}

// A white picture with the codes of `texts` side by side.
struct Picture {
  std::vector<std::uint8_t> pixels;
  int width = 0;
  int height = 0;
  GreyImage Image() const { return GreyImage{pixels.data(), width, height, width}; }
};

Picture Draw(const std::vector<std::string>& texts) {
  std::vector<std::vector<std::string>> codes;
  Picture picture;
  for (const std::string& text : texts) {
    codes.push_back(QrRows(text));
    EXPECT_FALSE(codes.back().empty()) << "qrencode made no code for " << text;
    const int modules = codes.back().empty() ? 0 : static_cast<int>(codes.back()[0].size() / 2);
    picture.width += modules * kModulePixels;
    picture.height = std::max(picture.height, static_cast<int>(codes.back().size()) * kModulePixels);
  }
  picture.width = std::max(picture.width, 64);
  picture.height = std::max(picture.height, 64);
  picture.pixels.assign(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height), 0xFF);
  int left = 0;
  for (const auto& rows : codes) {
    for (std::size_t y = 0; y < rows.size(); ++y) {
      for (std::size_t x = 0; 2 * x < rows[y].size(); ++x) {
        if (rows[y][2 * x] != '#') continue;
        for (int dy = 0; dy < kModulePixels; ++dy) {
          for (int dx = 0; dx < kModulePixels; ++dx) {
            const int px = left + static_cast<int>(x) * kModulePixels + dx;
            const int py = static_cast<int>(y) * kModulePixels + dy;
            picture.pixels[static_cast<std::size_t>(py) * static_cast<std::size_t>(picture.width) +
                           static_cast<std::size_t>(px)] = 0;
          }
        }
      }
    }
    left += rows.empty() ? 0 : static_cast<int>(rows[0].size() / 2) * kModulePixels;
  }
  return picture;
}

const std::string kUri = "otpauth://hotp/Maker:op?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ&digits=8&counter=1";

TEST(QrCode, ReadsTheOneOtpauthUriAndNamesWhatElseItFinds) {
  const struct {
    const char* label;
    std::vector<std::string> codes;
    const char* reasonPart;  // empty: read
  } cases[] = {
      {"a HOTP URI", {kUri}, ""},
      {"upper-case scheme", {"OTPAUTH://hotp/x?secret=MZXW6YTBOI"}, ""},
      {"no code at all", {}, "no QR code"},
      {"a code of other text", {"https://example.com/"}, "no otpauth URI"},
      {"two codes", {kUri, kUri}, "holds 2 QR codes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Picture picture = Draw(c.codes);
    SecretBuffer uri;
    std::string error;
    const bool read = ReadOtpauthQrCode(picture.Image(), uri, error);
    EXPECT_EQ(read, c.reasonPart[0] == '\0') << error;
    if (read) {
      EXPECT_EQ(uri.Text(), c.codes[0]);
    } else {
      EXPECT_NE(error.find(c.reasonPart), std::string::npos) << error;
      EXPECT_TRUE(uri.Empty());
      EXPECT_EQ(error.find("secret="), std::string::npos) << "the code must not be quoted: " << error;
    }
  }
  SecretBuffer uri;
  std::string error;
  EXPECT_FALSE(ReadOtpauthQrCode(GreyImage{}, uri, error));
  EXPECT_NE(error.find("empty"), std::string::npos) << error;
}

}  // namespace
