// Damaged and odd compressed products, one table: every format cut small
// and large, with a flipped byte, a damaged check field, junk after it,
// two members, nested in another.  Whatever a decoder can still decode
// gives the table the plain file cut there gives; every kind of damage is
// a read error with its reason, printed before the failure line.
#include "program_runner.h"

#include <unistd.h>

#include <string>
#include <vector>

namespace {

const std::string kInput = "L2SAMPLESST_PSO_2_x.xml";
const std::string kPcv = "L2SAMPLESST_PCV_2_x.ascii";
const std::string kFailure = "TAIHEN: " + kInput + " : failed to parse\n";
const std::string kReadError = "TAIHEN: read error on " + kInput + ": ";

// A covariance product of `records` records whose values all differ.
std::string covariance_xml(int records)
{
    std::string xml =
        "<?xml version=\"1.0\"?>\n<Data_Block><SST_PSO_2><SST_PCV_2><List_of_Covariance_Records>\n";
    for (int i = 1; i <= records; ++i)
        xml += "<Covariance_Record row=\"" + std::to_string(i) + "\" column=\"" +
               std::to_string(i % 97 + 1) + "\">" + std::to_string(i) + ".5E+00</Covariance_Record>\n";
    return xml + "</List_of_Covariance_Records></SST_PCV_2></SST_PSO_2></Data_Block>\n";
}

struct Format {
    const char* tool;
    const char* compress;    // standard input to standard output
    const char* truncated;   // the reason for a cut
    std::size_t magic_size;  // bytes of the magic number that starts a member
    // Where, counted from the end, a byte of an integrity check lies, and
    // the reason its damage gives.
    std::size_t check_from_end;
    const char* check_damaged;
};

const Format kFormats[] = {
    {"gzip", "gzip -c -n", "truncated gzip data", 2, 8, "gzip CRC mismatch"},
    {"xz", "xz -c", "truncated xz data", 6, 12, "xz data corrupt"},
    {"bzip2", "bzip2 -c", "truncated bzip2 data", 4, 2, "bzip2 data corrupt"},
    {"zstd", "zstd -q -c", "truncated zstd data", 4, 1, "zstd checksum mismatch"},
};

// What the format's library decodes of `file` before the end or the first
// damage, member after member, through Python's bindings (zstd's tool
// writes whole blocks only: what it gives is the least to expect).
const char* const kDecodeAsFarAsPossible =
    "import sys, zlib, lzma, bz2\n"
    "new = {'gzip': lambda: zlib.decompressobj(31), 'xz': lzma.LZMADecompressor,\n"
    "       'bzip2': bz2.BZ2Decompressor}[sys.argv[1]]\n"
    "data, out = sys.stdin.buffer.read(), b''\n"
    "while data:\n"
    "    d = new()\n"
    "    out += d.decompress(data)\n"
    "    data = d.unused_data if d.eof else b''\n"
    "sys.stdout.buffer.write(out)\n";

// What a case expects of the table.
enum class Table {
    kWhole,      // the plain file's
    kDecodable,  // the plain file's, cut where the format's own tool stops decoding
    kAny,        // whatever the damage let through
};

struct Case {
    const char* name;
    // The file, from the compressed product `z` (and the format).
    std::string (*make)(const std::string& z, const std::string& xml);
    int status;
    // The read error's reason; "truncated": the format's; "damage": any;
    // "one more byte": xz's padding rule or trailing data; null: none.
    const char* reason;
    Table table;
};

std::string flip(std::string bytes, std::size_t at)
{
    bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
    return bytes;
}

const Case kCases[] = {
    {"whole", [](const std::string& z, const std::string&) { return z; }, 0, nullptr, Table::kWhole},
    {"cut_small", [](const std::string& z, const std::string&) { return z.substr(0, 64); }, 1,
     "truncated", Table::kDecodable},
    {"cut_large", [](const std::string& z, const std::string&) { return z.substr(0, z.size() * 3 / 4); },
     1, "truncated", Table::kDecodable},
    {"cut_before_the_check",
     [](const std::string& z, const std::string&) { return z.substr(0, z.size() - 1); }, 1,
     "truncated", Table::kDecodable},
    {"flipped_byte", [](const std::string& z, const std::string&) { return flip(z, z.size() / 2); }, 1,
     "damage", Table::kAny},
    {"junk_after", [](const std::string& z, const std::string&) { return z + "junk\n"; }, 1,
     "trailing data after the compressed stream", Table::kWhole},
    {"one_byte_after", [](const std::string& z, const std::string&) { return z + std::string(1, '\0'); },
     1, "one more byte", Table::kWhole},
    // Members follow one another: the document twice is one document with
    // extra content, which the parser refuses after the first copy's table.
    {"twice", [](const std::string& z, const std::string&) { return z + z; }, 1, nullptr,
     Table::kDecodable},
};

class DamagedInputsTest : public e2e::ScratchFolderTest {
protected:
    // Runs `command` through the shell in the scratch folder.
    e2e::RunResult shell(const std::string& command)
    {
        return e2e::run_command("/bin/sh", {"-c", command}, dir_, 60.0);
    }
    bool have(const char* tool) { return shell(std::string("command -v ") + tool).status == 0; }

    // `content` through `command` (a filter), as the file `name`.
    std::string filtered(const std::string& content, const std::string& command)
    {
        e2e::write_file(dir_ + "/filter.in", content);
        shell(command + " < filter.in > filter.out 2>/dev/null");
        return e2e::read_file(dir_ + "/filter.out");
    }

    // Converts `content` as the product file in the folder `folder`.
    e2e::RunResult convert(const std::string& folder, const std::string& content)
    {
        e2e::write_file(dir_ + "/" + folder + "/" + kInput, content);
        return e2e::run_program({"-i", kInput}, dir_ + "/" + folder, 60.0);
    }
    // Converts `xml` in the folder "plain"; its table is table_in("plain").
    void convert_plain(const std::string& xml)
    {
        const e2e::RunResult plain = convert("plain", xml);
        EXPECT_EQ(0, plain.status) << plain.err;
    }
    // The formats whose tool is installed; the others are named once.
    std::vector<const Format*> installed_formats()
    {
        std::vector<const Format*> formats;
        for (const Format& format : kFormats) {
            if (have(format.tool))
                formats.push_back(&format);
            else
                std::printf("%s not installed: its form is not tried\n", format.tool);
        }
        return formats;
    }
    std::string table_in(const std::string& folder)
    {
        const std::string path = dir_ + "/" + folder + "/" + kPcv;
        return access(path.c_str(), F_OK) == 0 ? e2e::read_file(path) : "<none>";
    }
};

// The TAIHEN lines of a run's standard error.
std::string taihen_lines(const std::string& err)
{
    std::string lines;
    std::size_t at = 0;
    while (at < err.size()) {
        std::size_t end = err.find('\n', at);
        end = end == std::string::npos ? err.size() : end + 1;
        if (err.compare(at, 8, "TAIHEN: ") == 0)
            lines += err.substr(at, end - at);
        at = end;
    }
    return lines;
}

TEST_F(DamagedInputsTest, EveryFormatEveryDamage)
{
    const std::string xml = covariance_xml(20000);
    convert_plain(xml);
    const std::string whole_table = table_in("plain");

    for (const Format* each : installed_formats()) {
        const Format& format = *each;
        const std::string z = filtered(xml, format.compress);
        ASSERT_GT(z.size(), 1000u) << format.tool;
        for (const Case& c : kCases) {
            SCOPED_TRACE(std::string(format.tool) + " " + c.name);
            const std::string file = c.make(z, xml);
            const std::string folder = std::string(format.tool) + "_" + c.name;
            const e2e::RunResult r = convert(folder, file);
            std::string reason = c.reason != nullptr ? c.reason : "";
            if (reason == "truncated")
                reason = format.truncated;
            if (reason == "one more byte")
                reason = std::string(format.tool) == "xz"
                             ? "xz stream padding not a multiple of four bytes"
                             : "trailing data after the compressed stream";
            EXPECT_EQ(c.status, r.status) << r.err;
            const std::string taihen = taihen_lines(r.err);
            if (reason == "damage") {
                // Which check notices depends on the bit; all are read errors.
                EXPECT_EQ(0u, taihen.find(kReadError)) << taihen;
                EXPECT_NE(std::string::npos, taihen.find(kFailure)) << taihen;
            } else if (!reason.empty()) {
                EXPECT_EQ(kReadError + reason + "\n" + kFailure, taihen);
            } else {
                EXPECT_EQ(c.status == 0 ? "" : kFailure, taihen);
            }
            switch (c.table) {
            case Table::kWhole:
                EXPECT_TRUE(table_in(folder) == whole_table) << "not the whole table";
                break;
            case Table::kDecodable: {
                const bool zstd = std::string(format.tool) == "zstd";
                e2e::write_file(dir_ + "/decode.py", kDecodeAsFarAsPossible);
                const std::string decodable =
                    filtered(file, zstd ? "zstd -q -dc" : std::string("python3 decode.py ") + format.tool);
                ASSERT_EQ(0, (xml + xml).compare(0, decodable.size(), decodable));
                convert(folder + "_plain", decodable);
                const std::string table = table_in(folder);
                const std::string expected = table_in(folder + "_plain");
                EXPECT_TRUE(table == expected ||
                            (zstd && table.size() > expected.size() &&
                             whole_table.compare(0, table.size(), table) == 0))
                    << "not the table of the decodable " << decodable.size() << " bytes";
                break;
            }
            case Table::kAny:
                break;
            }
        }
    }
}

// Damage that only the check fields tell: the content is whole, the table
// written, and the run still fails.
TEST_F(DamagedInputsTest, DamagedCheckFieldIsAReadErrorAfterTheWholeTable)
{
    const std::string xml = covariance_xml(3000);
    convert_plain(xml);
    for (const Format* each : installed_formats()) {
        const Format& format = *each;
        SCOPED_TRACE(format.tool);
        const std::string z = filtered(xml, format.compress);
        const e2e::RunResult r = convert(format.tool, flip(z, z.size() - format.check_from_end));
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(kReadError + format.check_damaged + "\n" + kFailure, taihen_lines(r.err));
        if (std::string(format.tool) != "xz") {  // xz checks its block before the last bytes
            EXPECT_TRUE(table_in(format.tool) == table_in("plain")) << "not the whole table";
        }
    }
    // gzip's length field too.
    if (have("gzip")) {
        const std::string z = filtered(xml, "gzip -c -n");
        const e2e::RunResult r = convert("length", flip(z, z.size() - 2));
        EXPECT_EQ(kReadError + "gzip length mismatch\n" + kFailure, taihen_lines(r.err));
    }
}

// Members, streams and frames may follow one another (xz's with zero
// padding in fours); one compression inside another is not unpacked.
TEST_F(DamagedInputsTest, MembersFollowOneAnotherButLayersAreNotUnpacked)
{
    const std::string xml = covariance_xml(3000);
    const std::size_t half = xml.find('\n', xml.size() / 2) + 1;
    convert_plain(xml);
    for (const Format* each : installed_formats()) {
        const Format& format = *each;
        SCOPED_TRACE(format.tool);
        const std::string first = filtered(xml.substr(0, half), format.compress);
        const std::string second = filtered(xml.substr(half), format.compress);
        const std::string padding = std::string(format.tool) == "xz" ? std::string(8, '\0') : "";
        e2e::RunResult r = convert(format.tool, first + padding + second);
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_TRUE(table_in(format.tool) == table_in("plain")) << "not the whole table";

        // The second member damaged at its start: the first member's records.
        std::string damaged = second;
        damaged.replace(format.magic_size, 16, 16, '\xff');
        const std::string folder = std::string(format.tool) + "_second_damaged";
        r = convert(folder, first + damaged);
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(0u, taihen_lines(r.err).find(kReadError)) << r.err;
        convert(folder + "_plain", xml.substr(0, half));
        EXPECT_TRUE(table_in(folder) == table_in(folder + "_plain")) << "not the first member's table";

        // The same format twice over, and gzip over this one: the inner
        // stream is the document, which is not XML.
        for (const char* outer : {format.compress, "gzip -c -n"}) {
            const std::string nested = filtered(filtered(xml, format.compress), outer);
            const std::string nested_folder = std::string(format.tool) + "_nested";
            r = convert(nested_folder, nested);
            EXPECT_EQ(1, r.status);
            EXPECT_EQ(kFailure, taihen_lines(r.err)) << outer;
            EXPECT_EQ("<none>", table_in(nested_folder)) << outer;
        }
    }
}

// A parse error near the end of a plain file gives the same tables and lines
// whether the file comes in the program's chunks, through a pipe in small
// pieces or compressed: libxml2 is always handed full reads.
TEST_F(DamagedInputsTest, ResultsDoNotDependOnHowTheBytesArrive)
{
    // Just over 128 KiB, the error where reads cut at the program's buffer
    // once lost records.
    std::string xml = covariance_xml(1900);
    const std::string close = "</List_of_Covariance_Records></SST_PCV_2></SST_PSO_2></Data_Block>\n";
    xml.replace(xml.size() - close.size(), close.size(),
                "</List_of_Covariance_Records></SST_PCV_2><SST_PRM_2><List_of_Rotation_Records>"
                "<Rotation_Record><GPS_Time>1</GPS_Time></Rotation_Record></List_of_Rotation_Records>"
                "</SST_PRM_2></SST_PSO_2></Data_Block>\n");
    xml.insert(xml.size() - 2087, "<broken");
    const e2e::RunResult plain = convert("plain", xml);
    EXPECT_EQ(1, plain.status);
    const e2e::RunResult piped = shell(
        "mkdir -p pipe && mkfifo pipe/" + kInput + " || exit 9; python3 -c '"
                "data = open(\"plain/" + kInput + "\", \"rb\").read()\n"
        "out = open(\"pipe/" + kInput + "\", \"wb\", buffering=0)\n"
        "for i in range(0, len(data), 1000): out.write(data[i:i + 1000])\n' & cd pipe && " +
        e2e::program_path() + " -i " + kInput + "; s=$?; wait; rm " + kInput + "; exit $s");
    EXPECT_EQ(1, piped.status);
    EXPECT_TRUE(table_in("pipe") == table_in("plain")) << "through a pipe";
    if (have("gzip")) {
        const e2e::RunResult gz = convert("gzip", filtered(xml, "gzip -c -n"));
        EXPECT_EQ(1, gz.status);
        EXPECT_TRUE(table_in("gzip") == table_in("plain")) << "compressed";
    }
}

}  // namespace
