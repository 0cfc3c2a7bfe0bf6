#include <gtest/gtest.h>

#include "fonts.h"

namespace {

// The program's fonts for every test, so that text widths are the ones users see.
class UiFonts : public ::testing::Environment {
public:
    void SetUp() override { InstallUiFonts(); }
};

const auto* const fonts = ::testing::AddGlobalTestEnvironment(new UiFonts);

}  // namespace
