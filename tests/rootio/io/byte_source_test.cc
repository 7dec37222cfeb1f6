#include "rootio/io/byte_source.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "rootio/format/error.h"
#include "testdata.h"

using rootio::ByteRange;
using rootio::RootError;
using ::testing::HasSubstr;

namespace {

std::filesystem::path scratch(const char* name)
{
    auto dir = std::filesystem::temp_directory_path() / ("byte_source_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir / name;
}

std::string message_of(const std::function<void()>& f)
{
    try {
        f();
    } catch (const RootError& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(ByteSource, ReadsSeveralRangesInOneRequestAndRefusesRangesOutsideTheFile)
{
    const auto path = scratch("digits");
    std::ofstream(path) << "0123456789";
    const auto source = rootio::open_byte_source(path);
    ASSERT_EQ(source->size(), 10);

    uint8_t a[3], b[2], c[1];
    const ByteRange ranges[] = {{7, a}, {0, b}, {9, c}};
    source->read(ranges, "digits");
    EXPECT_EQ(std::string(a, a + 3), "789");
    EXPECT_EQ(std::string(b, b + 2), "01");
    EXPECT_EQ(c[0], '9');
    const uint64_t before = source->requests();
    EXPECT_GE(before, 1u);

    const ByteRange past_end[] = {{0, b}, {9, a}};
    EXPECT_THAT(message_of([&] { source->read(past_end, "digits"); }),
                HasSubstr(path.string() + ": digits: bytes 9..12 lie outside the file (10 bytes)"));
    EXPECT_EQ(source->requests(), before) << "nothing is read when any range is out of bounds";
}

TEST(ByteSource, RefusesWhatIsNotARegularFileWithoutBlocking)
{
    const auto fifo = scratch("fifo");
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THAT(message_of([&] { rootio::open_byte_source(fifo); }),
                HasSubstr("is a FIFO, not a regular file"));
    EXPECT_THAT(message_of([&] { rootio::open_byte_source(fifo.parent_path()); }),
                HasSubstr("is a directory, not a regular file"));
    EXPECT_THAT(message_of([&] { rootio::open_byte_source(scratch("missing")); }),
                HasSubstr("cannot open: No such file or directory"));
    std::filesystem::remove_all(fifo.parent_path());
}
