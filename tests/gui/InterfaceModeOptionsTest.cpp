// The reader panel's interface-mode options: the mode byte each sends, the names that send nothing,
// and the option preset for the interfaces a key shows.
#include <gtest/gtest.h>

#include <vector>

#include "app/setup/InterfaceModeOptions.h"
#include "device/InterfaceMode.h"

namespace {

// The command each mode makes is the unit tests' (InterfaceModeCommand).
TEST(InterfaceModeOptions, EachOptionNamesItsMode) {
  struct Case {
    const char* option;
    std::uint8_t mode;
  };
  const Case cases[] = {{"otp_select", 0x10},          {"u2f_select", 0x20},      {"otp_u2f_select", 0x30},
                        {"ccid_select", 0x40},         {"otp_ccid_select", 0x50}, {"u2f_ccid_select", 0x60},
                        {"u2f_ccid_otp_select", 0x70}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    const interface_mode::Option* option = interface_mode::FindOption(c.option);
    ASSERT_NE(option, nullptr);
    EXPECT_EQ(option->modeByte, c.mode);
    EXPECT_EQ(interface_mode::FindOptionByMode(c.mode), option);
  }
}

TEST(InterfaceModeOptions, NoneAndUnknownNamesSendNothing) {
  EXPECT_EQ(interface_mode::FindOption(interface_mode::kNoneOption), nullptr);
  EXPECT_EQ(interface_mode::FindOption("OTP_SELECT"), nullptr);
  EXPECT_EQ(interface_mode::FindOption(""), nullptr);
  EXPECT_EQ(interface_mode::FindOptionByMode(0x00), nullptr);
  EXPECT_EQ(interface_mode::FindOptionByMode(0x80), nullptr);
}

TEST(InterfacePreset, EverySetHasItsOption) {
  struct Case {
    readers::PresentInterfaces present;
    const char* option;
  };
  using namespace readers;
  const std::vector<Case> cases{
      {kPresentCcid | kPresentOtp | kPresentU2f, "u2f_ccid_otp_select"},
      {kPresentCcid | kPresentOtp, "otp_ccid_select"},
      {kPresentCcid | kPresentU2f, "u2f_ccid_select"},
      {kPresentOtp | kPresentU2f, "otp_u2f_select"},
      {kPresentCcid, "ccid_select"},
      {kPresentOtp, "otp_select"},
      {kPresentU2f, "u2f_select"},
      {0, "none_select"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    EXPECT_STREQ(interface_mode::PresetOptionFor(c.present), c.option);
  }
}

}  // namespace
