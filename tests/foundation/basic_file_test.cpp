#include "foundation/basic_file.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

int Read(basic_file& f, std::string* out, unsigned long long n, unsigned long long* moved) {
    out->assign(n, '\0');
    *moved = n;
    int rc = f.bf_read(out->data(), *moved);
    out->resize(*moved);
    return rc;
}

int Write(basic_file& f, const std::string& bytes, unsigned long long* moved) {
    *moved = bytes.size();
    return f.bf_write(bytes.data(), *moved);
}

// What both classes promise alike, with 1 opening for reading and writing and
// 0 for reading only.
template <class File>
void CheckCommonContract() {
    SCOPED_TRACE(typeid(File).name());
    TempDir dir;
    const std::string path = dir / "f.bin";
    File f(path);
    std::string got;
    unsigned long long n = 0;
    EXPECT_FALSE(basic_file::bf_exists(path));
    EXPECT_EQ(f.bf_open(0), kFileNotOpenErr);
    EXPECT_EQ(Read(f, &got, 9, &n), kFileNotOpenErr);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Write(f, "x", &n), kFileNotOpenErr);
    EXPECT_EQ(f.bf_close(), kFileNotOpenErr);

    // Read-write keeps what an existing file holds.
    WriteFile(path, "hello world");
    EXPECT_TRUE(basic_file::bf_exists(path));
    ASSERT_EQ(f.bf_open(1), 0);
    EXPECT_EQ(Read(f, &got, 5, &n), 0);
    EXPECT_EQ(got, "hello");
    // A write straight after a read lands at the position.
    EXPECT_EQ(Write(f, "_", &n), 0);
    EXPECT_EQ(f.bf_position(), 6u);
    EXPECT_EQ(f.bf_position_at(6), 0);
    EXPECT_EQ(Write(f, "WORLD!", &n), 0);
    EXPECT_EQ(f.bf_eof(), 12u);  // also while the write is still buffered
    EXPECT_EQ(f.bf_position_from(-4), 0);
    EXPECT_EQ(f.bf_position(), 8u);
    EXPECT_EQ(f.bf_position_from(-9), kPosErr);
    EXPECT_EQ(f.bf_position(), 8u);
    // Reading past the end moves what is there.
    EXPECT_EQ(Read(f, &got, 100, &n), kEOFErr);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(got, "RLD!");
    EXPECT_EQ(f.bf_position(), 12u);
    // Growing pads with zeros and keeps the position.
    EXPECT_EQ(f.bf_position_at(2), 0);
    EXPECT_EQ(f.bf_eof_at(15), 0);
    EXPECT_EQ(f.bf_eof(), 15u);
    EXPECT_EQ(f.bf_position(), 2u);
    EXPECT_EQ(f.bf_close(), 0);
    EXPECT_EQ(ReadFile(path), std::string("hello_WORLD!\0\0\0", 15));

    // Read-only refuses writes and leaves the file as it was.
    ASSERT_EQ(f.bf_open(0), 0);
    EXPECT_EQ(Write(f, "zz", &n), kEOFErr);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(f.bf_close(), 0);
    EXPECT_EQ(ReadFile(path), std::string("hello_WORLD!\0\0\0", 15));

    // bf_create empties the file; it fails where no folder is.
    EXPECT_EQ(f.bf_create(), 0);
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_EQ(File(dir / "none/f.bin").bf_create(), kCreateFailedErr);
}

TEST(BasicFiles, CommonContractOfBothClasses) {
    CheckCommonContract<basic_file>();
    CheckCommonContract<stream_basic_file>();
}

TEST(BasicFiles, WhereTheTwoClassesDiffer) {
    TempDir dir;
    unsigned long long n = 0;
    // basic_file: any permission but 0 is read-write and creates a missing file;
    // growing to a size the file already has does nothing.
    basic_file plain(dir / "plain");
    ASSERT_EQ(plain.bf_open(2), 0);
    EXPECT_TRUE(basic_file::bf_exists(dir / "plain"));
    EXPECT_EQ(Write(plain, "abc", &n), 0);
    EXPECT_EQ(plain.bf_eof_at(3), 0);
    EXPECT_EQ(plain.bf_eof_at(2), 0);
    EXPECT_EQ(plain.bf_eof(), 3u);

    // stream_basic_file: only 1 is read-write, and it opens existing files only;
    // growing to a size the file already has gives -39.
    stream_basic_file stream(dir / "stream");
    EXPECT_EQ(stream.bf_open(1), kFileNotOpenErr);
    EXPECT_FALSE(basic_file::bf_exists(dir / "stream"));
    WriteFile(dir / "stream", "abc");
    ASSERT_EQ(stream.bf_open(2), 0);
    EXPECT_EQ(Write(stream, "x", &n), kEOFErr);
    ASSERT_EQ(stream.bf_open(1), 0);
    EXPECT_EQ(stream.bf_eof_at(3), kEOFErr);
    EXPECT_EQ(stream.bf_eof_at(2), kEOFErr);
    EXPECT_EQ(stream.bf_eof(), 3u);
    EXPECT_EQ(ReadFile(dir / "stream"), "abc");
}

}  // namespace
