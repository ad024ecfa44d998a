#include "support/StdoutCapture.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace kxtest {

StdoutCapture::StdoutCapture()
{
    testing::internal::CaptureStdout();
}

StdoutCapture::~StdoutCapture()
{
    if (!text_)
        std::fputs(text().c_str(), stdout);
}

const std::string& StdoutCapture::text()
{
    if (!text_)
        text_ = testing::internal::GetCapturedStdout();
    return *text_;
}

} // namespace kxtest
