// What HexToBytes reads. These are the rules of the stream-like reader it replaces, kept to the
// letter (fuzz/FuzzHexToBytesDifferential.cpp checks every path against that reader):
//  - Nothing is written and 0 is returned when `output` is null or `capacity` is 0.
//  - Spaces (0x20, and only that character) at either end do not count; the rest is the text.
//  - White space is the space, tab, line feed, vertical tab, form feed and carriage return; a hex
//    digit is 0-9, a-f or A-F. Any other character (NUL, a byte from 0x80, a comma, 'x', ...) is a
//    stop character: the read ends where it stands.
//  - The text is in the spaced form when it holds a space, otherwise in the paired form.
//  - Spaced form: tokens are runs of hex digits between white space, each gives one byte, the low
//    eight bits of its value ("123" gives 23). A token may start with "0x" or "0X" when a hex digit
//    follows ("0x1F" gives 1F; "0x" alone gives 00 and stops at the x). A token whose value passes
//    32 bits (leading zeros do not count) gives nothing and ends the read. A token cut short by a
//    stop character still gives its byte ("12G" gives 12, then stop).
//  - Paired form: the text is cut into two-character pieces from its start, the last one possibly a
//    single character. A piece reads like a spaced token followed by a space: two hex digits give
//    their byte, a hex digit beside white space (or alone at the end) gives its own value ("\tA" and
//    "A\t" give 0A), two white spaces give nothing; a stop character ends the read after the digit
//    before it in the piece, if any ("AG" gives 0A, then stop). No 0x prefix in this form.
//  - The bytes go to output[0], output[1], ... until the read ends or `capacity` bytes are
//    written; the count is returned. No other byte of `output` is touched.
//
// How: one 256-entry table gives each character's hex value or its kind. Plain pairs ("HH " in
// the spaced form, "HH" in the paired form) are read in runs without further tests; on x86 whole
// blocks of them go through SSSE3 or AVX2, picked at run time so the program runs on any x86-64.
// The first character that is not part of a plain pair falls to the exact reader of one token
// (spaced) or one piece (paired), and the runs resume after it.
#include "core/HexReading.h"

#include <cstddef>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define TOKVANE_HEX_VECTORS 1
#include <immintrin.h>
#endif

namespace {

// The kind of a character: its value when a hex digit (0-15), or one of these.
constexpr std::uint8_t kWhiteSpace = 0x10;
constexpr std::uint8_t kStopCharacter = 0x20;

struct HexCharacterTable {
  std::uint8_t kind[256];
  constexpr HexCharacterTable() : kind{} {
    for (auto& k : kind) k = kStopCharacter;
    for (int i = 0; i < 10; ++i) kind['0' + i] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 6; ++i) {
      kind['a' + i] = static_cast<std::uint8_t>(10 + i);
      kind['A' + i] = static_cast<std::uint8_t>(10 + i);
    }
    for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'}) kind[static_cast<unsigned char>(c)] = kWhiteSpace;
  }
};
constexpr HexCharacterTable kHexCharacters;

std::uint8_t KindOf(char c) { return kHexCharacters.kind[static_cast<unsigned char>(c)]; }
bool IsHexDigit(std::uint8_t kind) { return kind < 16; }

// Reads whole blocks of plain pairs at `p` while at least a block's bytes fit in `room`; moves `p`
// past them and returns the bytes written. A block that is not all plain pairs is left unread.
using BlockReader = std::size_t (*)(const char*& p, const char* end, std::uint8_t* out, std::size_t room);

std::size_t NoBlocks(const char*&, const char*, std::uint8_t*, std::size_t) { return 0; }

struct BlockReaders {
  BlockReader spaced;  // "HH HH ... HH " including the space after the last pair
  BlockReader paired;  // "HHHH...HH"
};

#ifdef TOKVANE_HEX_VECTORS

// The layout of a spaced block of 16 pairs: 48 characters, pair k at 3k and 3k+1, a space at 3k+2,
// loaded as three vectors of 16. Shuffle masks gather the pairs' digits side by side, pairs 0-7
// into one vector and 8-15 into another; 0x80 makes a lane zero.
constexpr int kSpacedBlockLength = 48;

struct SpacedBlockMasks {
  alignas(16) std::uint8_t gather[2][3][16];  // [half][source vector][lane]
  alignas(16) std::uint8_t notSpace[3][16];   // 0xFF where the block holds a digit
  constexpr SpacedBlockMasks() : gather{}, notSpace{} {
    for (int half = 0; half < 2; ++half) {
      for (int source = 0; source < 3; ++source) {
        for (int lane = 0; lane < 16; ++lane) {
          const int position = 3 * (8 * half + lane / 2) + lane % 2;
          gather[half][source][lane] = position / 16 == source ? static_cast<std::uint8_t>(position % 16) : 0x80;
        }
      }
    }
    for (int position = 0; position < kSpacedBlockLength; ++position) {
      notSpace[position / 16][position % 16] = position % 3 == 2 ? 0x00 : 0xFF;
    }
  }
};
constexpr SpacedBlockMasks kSpacedBlock;

__attribute__((target("ssse3"))) inline __m128i Mask128(const std::uint8_t* bytes) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
}

// Each lane's hex value and whether it is a hex digit (all ones): '0'-'9' by range, letters by
// range after folding the case; a letter's low nibble is its value minus 9.
__attribute__((target("ssse3"))) inline void HexLanes(__m128i chars, __m128i& value, __m128i& isDigit) {
  const __m128i decimal = _mm_sub_epi8(chars, _mm_set1_epi8('0'));
  const __m128i isDecimal = _mm_cmpeq_epi8(_mm_min_epu8(decimal, _mm_set1_epi8(9)), decimal);
  const __m128i letter = _mm_sub_epi8(_mm_or_si128(chars, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i isLetter = _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(5)), letter);
  value = _mm_add_epi8(_mm_and_si128(chars, _mm_set1_epi8(0x0F)), _mm_and_si128(isLetter, _mm_set1_epi8(9)));
  isDigit = _mm_or_si128(isDecimal, isLetter);
}

// Pairs of digit values side by side (high, low) into bytes: 16*high + low per 16-bit lane, packed.
__attribute__((target("ssse3"))) inline __m128i PackPairs(__m128i first, __m128i second) {
  const __m128i weights = _mm_set1_epi16(0x0110);  // bytes 16, 1
  return _mm_packus_epi16(_mm_maddubs_epi16(first, weights), _mm_maddubs_epi16(second, weights));
}

__attribute__((target("ssse3"))) std::size_t SpacedBlocksSsse3(const char*& p, const char* end,
                                                                std::uint8_t* out, std::size_t room) {
  std::size_t written = 0;
  while (end - p >= kSpacedBlockLength && room - written >= 16) {
    const __m128i chars[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32))};
    __m128i spacesRight = _mm_set1_epi8(-1);
    __m128i halves[2];
    for (int source = 0; source < 3; ++source) {
      const __m128i isSpace = _mm_cmpeq_epi8(chars[source], _mm_set1_epi8(' '));
      spacesRight = _mm_and_si128(spacesRight, _mm_or_si128(isSpace, Mask128(kSpacedBlock.notSpace[source])));
    }
    for (int half = 0; half < 2; ++half) {
      halves[half] = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(chars[0], Mask128(kSpacedBlock.gather[half][0])),
                                               _mm_shuffle_epi8(chars[1], Mask128(kSpacedBlock.gather[half][1]))),
                                  _mm_shuffle_epi8(chars[2], Mask128(kSpacedBlock.gather[half][2])));
    }
    __m128i values[2];
    __m128i isDigit[2];
    HexLanes(halves[0], values[0], isDigit[0]);
    HexLanes(halves[1], values[1], isDigit[1]);
    const __m128i allRight = _mm_and_si128(spacesRight, _mm_and_si128(isDigit[0], isDigit[1]));
    if (_mm_movemask_epi8(allRight) != 0xFFFF) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + written), PackPairs(values[0], values[1]));
    p += kSpacedBlockLength;
    written += 16;
  }
  return written;
}

__attribute__((target("ssse3"))) std::size_t PairedBlocksSsse3(const char*& p, const char* end,
                                                                std::uint8_t* out, std::size_t room) {
  std::size_t written = 0;
  while (end - p >= 32 && room - written >= 16) {
    __m128i values[2];
    __m128i isDigit[2];
    HexLanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), values[0], isDigit[0]);
    HexLanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), values[1], isDigit[1]);
    if (_mm_movemask_epi8(_mm_and_si128(isDigit[0], isDigit[1])) != 0xFFFF) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + written), PackPairs(values[0], values[1]));
    p += 32;
    written += 16;
  }
  return written;
}

// The same steps on 256-bit vectors. AVX2 shuffles and packs within 128-bit halves, so each half
// holds its own block: a spaced step reads two consecutive 48-character blocks (the first in the
// low halves), a paired step 64 characters loaded so that the packed bytes come out in order.
__attribute__((target("avx2"))) inline void HexLanes(__m256i chars, __m256i& value, __m256i& isDigit) {
  const __m256i decimal = _mm256_sub_epi8(chars, _mm256_set1_epi8('0'));
  const __m256i isDecimal = _mm256_cmpeq_epi8(_mm256_min_epu8(decimal, _mm256_set1_epi8(9)), decimal);
  const __m256i letter = _mm256_sub_epi8(_mm256_or_si256(chars, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a'));
  const __m256i isLetter = _mm256_cmpeq_epi8(_mm256_min_epu8(letter, _mm256_set1_epi8(5)), letter);
  value = _mm256_add_epi8(_mm256_and_si256(chars, _mm256_set1_epi8(0x0F)),
                          _mm256_and_si256(isLetter, _mm256_set1_epi8(9)));
  isDigit = _mm256_or_si256(isDecimal, isLetter);
}

__attribute__((target("avx2"))) inline __m256i PackPairs(__m256i first, __m256i second) {
  const __m256i weights = _mm256_set1_epi16(0x0110);
  return _mm256_packus_epi16(_mm256_maddubs_epi16(first, weights), _mm256_maddubs_epi16(second, weights));
}

// The same 16-byte mask in both halves.
__attribute__((target("avx2"))) inline __m256i Mask256(const std::uint8_t* bytes) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(bytes)));
}

// 16 characters at `low` into the low half, 16 at `high` into the high half.
__attribute__((target("avx2"))) inline __m256i LoadHalves(const char* low, const char* high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

__attribute__((target("avx2"))) std::size_t SpacedBlocksAvx2(const char*& p, const char* end, std::uint8_t* out,
                                                              std::size_t room) {
  std::size_t written = 0;
  while (end - p >= 2 * kSpacedBlockLength && room - written >= 32) {
    __m256i chars[3];
    for (int source = 0; source < 3; ++source) {
      chars[source] = LoadHalves(p + 16 * source, p + kSpacedBlockLength + 16 * source);
    }
    __m256i spacesRight = _mm256_set1_epi8(-1);
    for (int source = 0; source < 3; ++source) {
      const __m256i isSpace = _mm256_cmpeq_epi8(chars[source], _mm256_set1_epi8(' '));
      spacesRight = _mm256_and_si256(spacesRight, _mm256_or_si256(isSpace, Mask256(kSpacedBlock.notSpace[source])));
    }
    __m256i halves[2];
    for (int half = 0; half < 2; ++half) {
      halves[half] =
          _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(chars[0], Mask256(kSpacedBlock.gather[half][0])),
                                          _mm256_shuffle_epi8(chars[1], Mask256(kSpacedBlock.gather[half][1]))),
                          _mm256_shuffle_epi8(chars[2], Mask256(kSpacedBlock.gather[half][2])));
    }
    __m256i values[2];
    __m256i isDigit[2];
    HexLanes(halves[0], values[0], isDigit[0]);
    HexLanes(halves[1], values[1], isDigit[1]);
    const __m256i allRight = _mm256_and_si256(spacesRight, _mm256_and_si256(isDigit[0], isDigit[1]));
    if (_mm256_movemask_epi8(allRight) != -1) break;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + written), PackPairs(values[0], values[1]));
    p += 2 * kSpacedBlockLength;
    written += 32;
  }
  return written;
}

__attribute__((target("avx2"))) std::size_t PairedBlocksAvx2(const char*& p, const char* end, std::uint8_t* out,
                                                              std::size_t room) {
  std::size_t written = 0;
  while (end - p >= 64 && room - written >= 32) {
    __m256i values[2];
    __m256i isDigit[2];
    HexLanes(LoadHalves(p, p + 32), values[0], isDigit[0]);
    HexLanes(LoadHalves(p + 16, p + 48), values[1], isDigit[1]);
    if (_mm256_movemask_epi8(_mm256_and_si256(isDigit[0], isDigit[1])) != -1) break;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + written), PackPairs(values[0], values[1]));
    p += 64;
    written += 32;
  }
  return written;
}

#endif  // TOKVANE_HEX_VECTORS

BlockReaders BlockReadersFor(HexReadingPath path) {
#ifdef TOKVANE_HEX_VECTORS
  if (CanRunHexReadingPath(path)) {
    if (path == HexReadingPath::Avx2) return {SpacedBlocksAvx2, PairedBlocksAvx2};
    if (path == HexReadingPath::Ssse3) return {SpacedBlocksSsse3, PairedBlocksSsse3};
  }
#else
  (void)path;
#endif
  return {NoBlocks, NoBlocks};
}

// One spaced token at `p`, which holds a hex digit; moves `p` to the character after it. False
// when its value passes 32 bits.
bool ReadToken(const char*& p, const char* end, std::uint8_t& byte) {
  if (p[0] == '0' && end - p > 2 && (p[1] == 'x' || p[1] == 'X') && IsHexDigit(KindOf(p[2]))) p += 2;
  std::uint64_t value = 0;
  do {
    value = value * 16 + KindOf(*p);
    if (value > 0xFFFFFFFFu) return false;
    ++p;
  } while (p < end && IsHexDigit(KindOf(*p)));
  byte = static_cast<std::uint8_t>(value);
  return true;
}

void SkipWhiteSpace(const char*& p, const char* end) {
  while (p < end && KindOf(*p) == kWhiteSpace) ++p;
}

std::uint32_t ReadSpacedForm(const char* p, const char* end, std::uint8_t* output, std::uint32_t capacity,
                             BlockReader blocks) {
  std::uint32_t written = 0;
  SkipWhiteSpace(p, end);
  for (;;) {
    // Here `p` is where a token may start: the runs of plain pairs hold exactly the reads the
    // exact reader would make.
    written += static_cast<std::uint32_t>(blocks(p, end, output + written, capacity - written));
    while (written < capacity && end - p >= 3) {
      const unsigned high = KindOf(p[0]);
      const unsigned low = KindOf(p[1]);
      if (((high | low) >= 16) | (p[2] != ' ')) break;
      output[written++] = static_cast<std::uint8_t>(high << 4 | low);
      p += 3;
    }
    if (written == capacity) return written;
    SkipWhiteSpace(p, end);
    if (p == end || !IsHexDigit(KindOf(*p))) return written;
    std::uint8_t byte = 0;
    if (!ReadToken(p, end, byte)) return written;
    output[written++] = byte;
    SkipWhiteSpace(p, end);
  }
}

std::uint32_t ReadPairedForm(const char* p, const char* end, std::uint8_t* output, std::uint32_t capacity,
                             BlockReader blocks) {
  std::uint32_t written = 0;
  for (;;) {
    written += static_cast<std::uint32_t>(blocks(p, end, output + written, capacity - written));
    while (written < capacity && end - p >= 2) {
      const unsigned high = KindOf(p[0]);
      const unsigned low = KindOf(p[1]);
      if ((high | low) >= 16) break;
      output[written++] = static_cast<std::uint8_t>(high << 4 | low);
      p += 2;
    }
    if (written == capacity || p == end) return written;
    // A piece that is not two hex digits; a lone last character reads as if a space followed it.
    const bool whole = end - p >= 2;
    const std::uint8_t first = KindOf(p[0]);
    const std::uint8_t second = whole ? KindOf(p[1]) : kWhiteSpace;
    p += whole ? 2 : 1;
    if (IsHexDigit(first)) {
      output[written++] = first;
      if (second == kStopCharacter) return written;
    } else if (first == kWhiteSpace) {
      if (IsHexDigit(second)) {
        output[written++] = second;
      } else if (second == kStopCharacter) {
        return written;
      }
    } else {
      return written;
    }
  }
}

}  // namespace

bool CanRunHexReadingPath(HexReadingPath path) {
#ifdef TOKVANE_HEX_VECTORS
  __builtin_cpu_init();  // HexToBytes may run in a static initialiser, before the run-time library sets this up
#endif
  switch (path) {
    case HexReadingPath::Scalar:
      return true;
#ifdef TOKVANE_HEX_VECTORS
    case HexReadingPath::Ssse3:
      return __builtin_cpu_supports("ssse3");
    case HexReadingPath::Avx2:
      return __builtin_cpu_supports("avx2");
#else
    case HexReadingPath::Ssse3:
    case HexReadingPath::Avx2:
      return false;
#endif
  }
  return false;
}

HexReadingPath FastestHexReadingPath() {
  static const HexReadingPath fastest = CanRunHexReadingPath(HexReadingPath::Avx2)    ? HexReadingPath::Avx2
                                        : CanRunHexReadingPath(HexReadingPath::Ssse3) ? HexReadingPath::Ssse3
                                                                                      : HexReadingPath::Scalar;
  return fastest;
}

std::uint32_t ReadHexText(std::string_view hexText, std::uint8_t* output, std::uint32_t capacity,
                          HexReadingPath path) {
  if (output == nullptr || capacity == 0) return 0;
  const char* begin = hexText.data();
  const char* end = begin + hexText.size();
  while (end != begin && end[-1] == ' ') --end;
  while (begin != end && *begin == ' ') ++begin;
  if (begin == end) return 0;

  const BlockReaders blocks = BlockReadersFor(path);
  if (std::memchr(begin, ' ', static_cast<std::size_t>(end - begin)) != nullptr) {
    return ReadSpacedForm(begin, end, output, capacity, blocks.spaced);
  }
  return ReadPairedForm(begin, end, output, capacity, blocks.paired);
}
