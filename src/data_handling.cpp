// Product records: one global record per product type, its reset, the setters
// that take element text under a tag path, and the writer that prints one
// table line; the embedded-document path; the header epoch record.
#include "l2xml2ascii.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

EGG_NOM_2_record EGG_NOM_2_data;
SST_PCV_2_record SST_PCV_2_data;
SST_PKI_2_record SST_PKI_2_data;
SST_PRD_2_record SST_PRD_2_data;
SST_PRM_2_record SST_PRM_2_data;
SST_PRP_2_record SST_PRP_2_data;
HDR_SST_PRM_2_record HDR_SST_PRM_2_data;

namespace {

// Fill value of a floating-point field not set since the last reset; the
// positive quiet NaN, so that it prints as "nan".
constexpr double kUnset = std::numeric_limits<double>::quiet_NaN();

constexpr int32_t kUnsetIndex = -999999;  // covariance row or column not given
constexpr int16_t kUnsetFlag = -1;        // gravity-gradient flag not given

// Builds one table line field by field with the exact printf-equivalent
// formatters and hands it to the output file in one piece.  A line that
// would outgrow the buffer (huge values in fixed notation) is passed on in
// parts, so any value fits.
class TableLine {
public:
    explicit TableLine(OutputFile& out) : out_(out) {}

    // "%W.Pe"
    TableLine& e(double v, int width, int precision)
    {
        room(format_e_max_length(width, precision));
        end_ = format_e(end_, v, width, precision);
        return *this;
    }
    // "%W.Pf"
    TableLine& f(double v, int width, int precision)
    {
        room(format_f_max_length(width, precision));
        end_ = format_f(end_, v, width, precision);
        return *this;
    }
    // "%Wd", width 0 for "%d"
    TableLine& d(int v, int width)
    {
        room(format_d_max_length(width));
        end_ = format_d(end_, v, width);
        return *this;
    }
    TableLine& blanks(int count)
    {
        room(count);
        for (int i = 0; i < count; ++i)
            *end_++ = ' ';
        return *this;
    }
    // Ends the line and writes it.
    void finish()
    {
        room(1);
        *end_++ = '\n';
        flush();
    }

private:
    void room(int size)
    {
        if (buffer_ + sizeof buffer_ - end_ < size)
            flush();
    }
    void flush()
    {
        out_.write(buffer_, static_cast<std::size_t>(end_ - buffer_));
        end_ = buffer_;
    }

    OutputFile& out_;
    char buffer_[2048];
    char* end_ = buffer_;
};

// The writers' first step: a record whose file is not open is only reported.
bool can_write(const OutputFile& out)
{
    if (out.is_open())
        return true;
    std::puts("TAIHEN: output file is not open!");
    return false;
}

void fill(double* values, int count)
{
    for (int i = 0; i < count; ++i)
        values[i] = kUnset;
}

// A double field chosen by the tag path entries from depth 5 downwards.
struct FieldRoute {
    int32_t codes[5];     // entries at depths 5, 6, ... that select the field
    int length;           // how many of them are looked at
    double* field;
    bool adds_epoch;      // the header's epoch reference is added on storing
};

// Stores `text` in the field of the first route the tag path shows.
void store_routed(const std::vector<FieldRoute>& routes, const TagPath& tags, const char* text)
{
    for (const FieldRoute& route : routes) {
        int d = 0;
        while (d < route.length && tags[5 + d] == route.codes[d])
            ++d;
        if (d < route.length)
            continue;
        double value = parse_double(text);
        if (route.adds_epoch)
            value += HDR_SST_PRM_2_data.Epoch_Information;
        *route.field = value;
        return;
    }
}

// Entries of the orbit records' epoch and state elements (codes from depth 5).
template <typename Record>
void add_orbit_state_routes(std::vector<FieldRoute>& routes, Record& r)
{
    constexpr int32_t kTime = 14, kGps = 9, kStart = 11, kGregorian = 7;
    double* epoch[] = {&r.year, &r.month, &r.day, &r.hour, &r.minute, &r.second};
    for (int32_t i = 0; i < 6; ++i)
        routes.push_back({{kTime, kGps, kStart, kGregorian, i + 1}, 5, epoch[i], false});
    constexpr int32_t kSatellites = 15, kL15 = 10, kPosition = 12, kClock = 14;
    routes.push_back({{kSatellites, kL15, kPosition, 8}, 4, &r.x, false});
    routes.push_back({{kSatellites, kL15, kPosition, 9}, 4, &r.y, false});
    routes.push_back({{kSatellites, kL15, kPosition, 10}, 4, &r.z, false});
    routes.push_back({{kSatellites, kL15, kClock}, 3, &r.clock, false});
}

const std::vector<FieldRoute>& pki_routes()
{
    static const std::vector<FieldRoute> routes = [] {
        std::vector<FieldRoute> r;
        add_orbit_state_routes(r, SST_PKI_2_data);
        return r;
    }();
    return routes;
}

const std::vector<FieldRoute>& prd_routes()
{
    static const std::vector<FieldRoute> routes = [] {
        std::vector<FieldRoute> r;
        add_orbit_state_routes(r, SST_PRD_2_data);
        constexpr int32_t kSatellites = 15, kL15 = 10, kVelocity = 13, kRate = 15;
        SST_PRD_2_record& d = SST_PRD_2_data;
        r.push_back({{kSatellites, kL15, kVelocity, 8}, 4, &d.vx, false});
        r.push_back({{kSatellites, kL15, kVelocity, 9}, 4, &d.vy, false});
        r.push_back({{kSatellites, kL15, kVelocity, 10}, 4, &d.vz, false});
        r.push_back({{kSatellites, kL15, kRate}, 3, &d.clock_change_rate, false});
        return r;
    }();
    return routes;
}

const std::vector<FieldRoute>& prm_routes()
{
    static const std::vector<FieldRoute> routes = [] {
        constexpr int32_t kTime = 14, kQuaternions = 16, kSinceEpoch = 11, kQ1 = 12;
        SST_PRM_2_record& d = SST_PRM_2_data;
        std::vector<FieldRoute> r;
        r.push_back({{kTime, kSinceEpoch}, 2, &d.time, true});
        double* q[] = {&d.q1, &d.q2, &d.q3, &d.q4};
        for (int32_t i = 0; i < 4; ++i) {
            r.push_back({{kQuaternions, kQ1 + i}, 2, q[i], false});
            r.push_back({{kTime, kQ1 + i}, 2, q[i], false});
        }
        return r;
    }();
    return routes;
}

// Fewest open elements under which text can reach one of the fields: every
// entry a route compares belongs to an open element (codes are never 0).
int32_t fewest_open_elements(const std::vector<FieldRoute>& routes)
{
    int shortest = kTagDepths;
    for (const FieldRoute& route : routes)
        shortest = std::min(shortest, route.length);
    return 5 + shortest;
}

// ---------------------------------------------------------------------------
// Gravity-gradient record walk.
//
// Each group of fields is reached through a run of tag path entries below
// GG_time_Record (depth 4 downwards), followed by one entry that picks the
// group's member.  The walk reports the depth at which the tag path left
// every group.

enum class GradientField { kTime, kDouble, kFlag };

struct GradientGroup {
    int32_t path[4];       // entries from depth 4 down to the members' parent
    int path_length;
    int32_t first_code;    // code of the first member at the next depth
    int members;
    GradientField kind;
    long double* time;
    double* values;
    int16_t* flags;
};

const std::vector<GradientGroup>& gradient_groups()
{
    static const std::vector<GradientGroup> groups = [] {
        EGG_NOM_2_record& r = EGG_NOM_2_data;
        using K = GradientField;
        // Depth-4 groups, depth-5 members, ...; components XX..YZ in order.
        constexpr int32_t kTimeInfo = 1, kGradients = 2, kSigmas = 3, kFlags = 4,
                          kCorrections = 5, kQuaternions = 6;
        constexpr int32_t kTemporal = 8, kCalibration = 9, kTidal = 1, kNonTidal = 2;
        return std::vector<GradientGroup>{
            {{kTimeInfo}, 1, 1, 1, K::kTime, &r.gps_time, nullptr, nullptr},
            {{kGradients}, 1, 2, 6, K::kDouble, nullptr, r.gradients, nullptr},
            {{kSigmas}, 1, 2, 6, K::kDouble, nullptr, r.sigmas, nullptr},
            {{kFlags}, 1, 2, 6, K::kFlag, nullptr, nullptr, r.flags},
            {{kCorrections, kTemporal, kTidal, 1}, 4, 1, 6, K::kDouble, nullptr, r.direct_tides, nullptr},
            {{kCorrections, kTemporal, kTidal, 2}, 4, 1, 6, K::kDouble, nullptr, r.solid_earth_tides, nullptr},
            {{kCorrections, kTemporal, kTidal, 3}, 4, 1, 6, K::kDouble, nullptr, r.ocean_tides, nullptr},
            {{kCorrections, kTemporal, kTidal, 4}, 4, 1, 6, K::kDouble, nullptr, r.pole_tides, nullptr},
            {{kCorrections, kTemporal, kNonTidal}, 3, 5, 6, K::kDouble, nullptr, r.non_tidal, nullptr},
            {{kCorrections, kCalibration}, 2, 3, 6, K::kDouble, nullptr, r.calibration, nullptr},
            {{kQuaternions}, 1, 10, 4, K::kDouble, nullptr, r.quaternions, nullptr},
        };
    }();
    return groups;
}

// The groups whose path starts with `code` at depth 4, in table order (the
// table keeps them together).
struct GroupRun {
    const GradientGroup* first = nullptr;
    const GradientGroup* last = nullptr;
    const GradientGroup* begin() const { return first; }
    const GradientGroup* end() const { return last; }
};

// The member of `group` that the tag path shows, or -1.
int32_t gradient_member(const GradientGroup& group, const TagPath& tags)
{
    for (int d = 0; d < group.path_length; ++d)
        if (tags[static_cast<std::size_t>(4 + d)] != group.path[d])
            return -1;
    const int32_t member = tags[static_cast<std::size_t>(4 + group.path_length)] - group.first_code;
    return member >= 0 && member < group.members ? member : -1;
}

GroupRun gradient_groups_under(int32_t code)
{
    constexpr int32_t kCodes = 16;  // above every depth-4 code
    static const std::array<GroupRun, kCodes> runs = [] {
        std::array<GroupRun, kCodes> result{};
        const std::vector<GradientGroup>& groups = gradient_groups();
        // No group's path begins another's, so at most one group takes a
        // text: PutToStruct_EGG_NOM_2 relies on it.
        for (const GradientGroup& a : groups)
            for (const GradientGroup& b : groups)
                if (&a != &b && a.path_length <= b.path_length &&
                    std::equal(a.path, a.path + a.path_length, b.path))
                    throw std::logic_error("a gradient group path begins another");
        for (const GradientGroup& group : groups) {
            GroupRun& run = result[static_cast<std::size_t>(group.path[0])];
            if (run.first == nullptr)
                run.first = &group;
            else if (run.last != &group)
                throw std::logic_error("gradient groups under one element must be together");
            run.last = &group + 1;
        }
        return result;
    }();
    return code >= 0 && code < kCodes ? runs[static_cast<std::size_t>(code)] : GroupRun{};
}

void store_gradient_field(const GradientGroup& group, int member, const char* text)
{
    switch (group.kind) {
    case GradientField::kTime:
        group.time[member] = parse_double(text);
        break;
    case GradientField::kDouble:
        group.values[member] = parse_double(text);
        break;
    case GradientField::kFlag:
        // The low 16 bits of the integer, read as a signed 16-bit value.
        group.flags[member] =
            static_cast<int16_t>(static_cast<uint16_t>(static_cast<unsigned long>(parse_long(text))));
        break;
    }
}

}  // namespace

int32_t PutToStruct_fewest_open_elements(int32_t product_bit)
{
    switch (product_bit) {
    case kSST_PKI_2:
        return fewest_open_elements(pki_routes());
    case kSST_PRD_2:
        return fewest_open_elements(prd_routes());
    case kSST_PRM_2:
        return fewest_open_elements(prm_routes());
    default:
        return 0;  // every text is looked at (and may be reported)
    }
}

// ===========================================================================
// EGG_NOM_2: gravity gradients

void initialize_EGG_NOM_2_data()
{
    EGG_NOM_2_record& r = EGG_NOM_2_data;
    r.gps_time = std::numeric_limits<long double>::quiet_NaN();
    fill(r.gradients, 6);
    fill(r.sigmas, 6);
    for (int16_t& flag : r.flags)
        flag = kUnsetFlag;
    fill(r.direct_tides, 6);
    fill(r.solid_earth_tides, 6);
    fill(r.ocean_tides, 6);
    fill(r.pole_tides, 6);
    fill(r.non_tidal, 6);
    fill(r.calibration, 6);
    fill(r.quaternions, 4);
}

void PutToStruct_EGG_NOM_2(const TagPath& tags, const char* text)
{
    static const int32_t kRecordPath[] = {1, 1, 1, 1};  // Data_Block .. GG_time_Record
    // The texts of a record come group by group: the group that took the
    // last one is asked first.  At most one group takes a text (see
    // gradient_groups_under), so that group is the one the walk would find.
    static const GradientGroup* last_group = nullptr;
    if (last_group != nullptr && tag_path_shows(tags, kRecordPath)) {
        const int32_t member = gradient_member(*last_group, tags);
        if (member >= 0) {
            store_gradient_field(*last_group, member, text);
            return;
        }
    }
    int level = 0;
    while (level < 4 && tags[level] == kRecordPath[level])
        ++level;
    if (level == 4) {
        // Deepest depth reached by any group; the walk stops where all left.
        // Groups that differ at depth 4 leave there, so only the run of
        // groups under the depth-4 element is walked.
        int deepest = 4;
        for (const GradientGroup& group : gradient_groups_under(tags[4])) {
            int matched = 1;
            while (matched < group.path_length && tags[4 + matched] == group.path[matched])
                ++matched;
            if (matched == group.path_length) {
                const int32_t member = tags[4 + matched] - group.first_code;
                if (member >= 0 && member < group.members) {
                    store_gradient_field(group, member, text);
                    last_group = &group;
                    return;
                }
            }
            if (4 + matched > deepest)
                deepest = 4 + matched;
        }
        level = deepest;
    }
    std::printf("MESSAGE: tag not found --> level %d, tags %d %d %d %d %d %d %d %d\n", level,
                tags[0], tags[1], tags[2], tags[3], tags[4], tags[5], tags[6], tags[7]);
}

void OutputToFileASCII_EGG_NOM_2(OutputFile& out)
{
    // "%20.9Lf", then the groups of "%15.8e" (flags "%d") with one blank
    // inside a group and three between groups, two before the non-tidal one.
    struct Group {
        int blanks_before;
        const double* values;
        int count;
    };
    const EGG_NOM_2_record& r = EGG_NOM_2_data;
    const Group before_flags[] = {{3, r.gradients, 6}, {3, r.sigmas, 6}};
    const Group after_flags[] = {
        {3, r.direct_tides, 6}, {3, r.solid_earth_tides, 6}, {3, r.ocean_tides, 6},
        {3, r.pole_tides, 6},   {2, r.non_tidal, 6},         {3, r.calibration, 6},
        {3, r.quaternions, 4},
    };
    auto put_groups = [](TableLine& line, const Group* groups, std::size_t count) {
        for (std::size_t g = 0; g < count; ++g) {
            line.blanks(groups[g].blanks_before);
            for (int i = 0; i < groups[g].count; ++i) {
                if (i > 0)
                    line.blanks(1);
                line.e(groups[g].values[i], 15, 8);
            }
        }
    };
    if (can_write(out)) {
        TableLine line(out);
        // The time holds a double's value: as text it is that double's.
        line.f(static_cast<double>(r.gps_time), 20, 9);
        put_groups(line, before_flags, 2);
        line.blanks(3);
        for (int i = 0; i < 6; ++i) {
            if (i > 0)
                line.blanks(1);
            line.d(r.flags[i], 0);
        }
        put_groups(line, after_flags, 7);
        line.finish();
    }
    initialize_EGG_NOM_2_data();
}

// ===========================================================================
// SST_PCV_2: covariance matrix elements

void initialize_SST_PCV_2_data()
{
    SST_PCV_2_data.row = kUnsetIndex;
    SST_PCV_2_data.column = kUnsetIndex;
    SST_PCV_2_data.value = kUnset;
}

void PutToStruct_SST_PCV_2(const TagPath& tags, int32_t mode, const char* row_text,
                           const char* column_text, const char* value_text)
{
    // Data_Block, SST_PSO_2, SST_PCV_2, List_of_Covariance_Records,
    // Covariance_Record, and nothing open inside it.
    static const int32_t kRecordPath[] = {1, 2, 2, 2, 7, 0};
    if (!tag_path_shows(tags, kRecordPath))
        return;
    // The indices are 32-bit: a wider strtol result keeps its low 32 bits.
    auto to_index = [](const char* text) {
        return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(parse_long(text))));
    };
    if (mode == 1) {
        if (row_text != nullptr)
            SST_PCV_2_data.row = to_index(row_text);
        if (column_text != nullptr)
            SST_PCV_2_data.column = to_index(column_text);
    } else if (mode == 2) {
        if (value_text != nullptr)
            SST_PCV_2_data.value = parse_double(value_text);
    }
}

void OutputToFileASCII_SST_PCV_2(OutputFile& out)
{
    // "%6d %6d   %14.7e\n"
    if (can_write(out))
        TableLine(out).d(SST_PCV_2_data.row, 6).blanks(1).d(SST_PCV_2_data.column, 6)
            .blanks(3).e(SST_PCV_2_data.value, 14, 7).finish();
    initialize_SST_PCV_2_data();
}

// ===========================================================================
// SST_PKI_2 and SST_PRD_2: orbits

namespace {

// The fields both orbit records have.
template <typename Record>
void reset_epoch_and_position(Record& r)
{
    r.year = r.month = r.day = r.hour = r.minute = r.second = kUnset;
    r.position_factor = 1.0;
    r.x = r.y = r.z = kUnset;
    r.clock = kUnset;
}

}  // namespace

void initialize_SST_PKI_2_data()
{
    reset_epoch_and_position(SST_PKI_2_data);
}

void initialize_SST_PRD_2_data()
{
    SST_PRD_2_record& r = SST_PRD_2_data;
    reset_epoch_and_position(r);
    r.velocity_factor = 1.0;
    r.vx = r.vy = r.vz = kUnset;
    r.clock_change_rate = kUnset;
}

void PutToStruct_SST_PKI_2(const TagPath& tags, const char* text)
{
    // Data_Block, SST_PSO_2, SST_PKI_2, List_of_SP3c_Records, SP3c_Record.
    static const int32_t kRecordPath[] = {1, 2, 3, 3, 8};
    if (tag_path_shows(tags, kRecordPath))
        store_routed(pki_routes(), tags, text);
}

void PutToStruct_SST_PRD_2(const TagPath& tags, const char* text)
{
    // Data_Block, SST_PSO_2, SST_PRD_2, List_of_SP3c_Records, SP3c_Record.
    static const int32_t kRecordPath[] = {1, 2, 4, 3, 8};
    if (tag_path_shows(tags, kRecordPath))
        store_routed(prd_routes(), tags, text);
}

void PutToStruct_SST_PKI_2_Position_Factor(double factor)
{
    SST_PKI_2_data.position_factor = factor;
}

void PutToStruct_SST_PRD_2_Position_Factor(double factor)
{
    SST_PRD_2_data.position_factor = factor;
}

void PutToStruct_SST_PRD_2_Velocity_Factor(double factor)
{
    SST_PRD_2_data.velocity_factor = factor;
}

namespace {

// The columns the two orbit tables share: "%20.9f   %15.6f %15.6f %15.6f %15.6f"
// with the epoch in GPS-time seconds and the positions scaled.
template <typename Record>
void put_orbit_columns(TableLine& line, const Record& r)
{
    const double seconds = gps_seconds(r.year, r.month, r.day, r.hour, r.minute, r.second);
    line.f(seconds, 20, 9).blanks(3);
    line.f(r.position_factor * r.x, 15, 6).blanks(1);
    line.f(r.position_factor * r.y, 15, 6).blanks(1);
    line.f(r.position_factor * r.z, 15, 6).blanks(1);
    line.f(r.clock, 15, 6);
}

}  // namespace

void OutputToFileASCII_SST_PKI_2(OutputFile& out)
{
    if (can_write(out)) {
        TableLine line(out);
        put_orbit_columns(line, SST_PKI_2_data);
        line.finish();
    }
    initialize_SST_PKI_2_data();
}

void OutputToFileASCII_SST_PRD_2(OutputFile& out)
{
    // The orbit columns, then "   %12.6f %12.6f %12.6f %12.6f".
    const SST_PRD_2_record& r = SST_PRD_2_data;
    if (can_write(out)) {
        TableLine line(out);
        put_orbit_columns(line, r);
        line.blanks(3).f(r.velocity_factor * r.vx, 12, 6).blanks(1);
        line.f(r.velocity_factor * r.vy, 12, 6).blanks(1);
        line.f(r.velocity_factor * r.vz, 12, 6).blanks(1);
        line.f(r.clock_change_rate, 12, 6);
        line.finish();
    }
    initialize_SST_PRD_2_data();
}

// ===========================================================================
// SST_PRM_2: rotations

void initialize_SST_PRM_2_data()
{
    SST_PRM_2_record& r = SST_PRM_2_data;
    r.time = r.q1 = r.q2 = r.q3 = r.q4 = kUnset;
}

void PutToStruct_SST_PRM_2(const TagPath& tags, const char* text)
{
    // Data_Block, SST_PSO_2, SST_PRM_2, List_of_Rotation_Records, Rotation_Record.
    static const int32_t kRecordPath[] = {1, 2, 5, 4, 9};
    if (tag_path_shows(tags, kRecordPath))
        store_routed(prm_routes(), tags, text);
}

void OutputToFileASCII_SST_PRM_2(OutputFile& out)
{
    const SST_PRM_2_record& r = SST_PRM_2_data;
    // "%20.9f   %2.16f %2.15f %2.16f %2.16f\n"
    if (can_write(out))
        TableLine(out).f(r.time, 20, 9).blanks(3).f(r.q1, 2, 16).blanks(1).f(r.q2, 2, 15)
            .blanks(1).f(r.q3, 2, 16).blanks(1).f(r.q4, 2, 16).finish();
    initialize_SST_PRM_2_data();
}

// ===========================================================================
// SST_PRP_2: embedded documents

void PutToStruct_SST_PRP_2(const TagPath& tags, const char* encoding)
{
    // Data_Block, SST_PSO_2, SST_PRP_2, List_of_PDF_Files, PDF_File, and
    // nothing open inside it.
    static const int32_t kDocumentPath[] = {1, 2, 6, 5, 10, 0};
    if (!tag_path_shows(tags, kDocumentPath))
        return;
    const bool base64 = encoding != nullptr && std::strcmp(encoding, "Base64") == 0;
    PutToStruct_SST_PRP_2_Encoding(base64 ? 1 : 0);
}

void PutToStruct_SST_PRP_2_Encoding(int32_t encoding)
{
    SST_PRP_2_data.encoding = encoding;
}

int32_t GetFromStruct_SST_PRP_2_Encoding()
{
    return SST_PRP_2_data.encoding;
}

void OutputToFile_SST_PRP_2_Document(OutputFile& out, const char* text)
{
    const std::size_t length = std::strlen(text);
    if (GetFromStruct_SST_PRP_2_Encoding() == 1) {
        // Decoded a piece at a time, whatever the document's size.  Only the
        // document's own bytes go out: not the zero bytes that stand for the
        // pad characters of the last complete group, so the last three bytes
        // decoded (that group's) wait until the text has ended.
        constexpr std::size_t kPiece = std::size_t{1} << 16;  // characters
        constexpr std::size_t kHeld = 3;                      // one group's bytes
        const std::size_t piece = std::min(length, kPiece);
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[kHeld + 3 * (piece / 4 + 1)]);
        Base64Decoder decoder;
        std::size_t held = 0;
        for (std::size_t at = 0; at < length; at += piece) {
            const std::size_t n = std::min(piece, length - at);
            const std::size_t total = held + decoder.decode(text + at, n, buffer.get() + held);
            held = std::min(total, kHeld);
            out.write(buffer.get(), total - held);
            std::memmove(buffer.get(), buffer.get() + total - held, held);
        }
        // A group of four "=" (or "x===") still yields only its own three
        // bytes; nothing before it is a pad.
        const std::size_t pads =
            std::min(static_cast<std::size_t>(decoder.last_group_pads()), kHeld);
        if (held > pads)
            out.write(buffer.get(), held - pads);
    } else {
        std::puts("no encoding!");
        out.write(text, length);
    }
    PutToStruct_SST_PRP_2_Encoding(0);
}

// ===========================================================================
// Header epoch record

void HDR_initialize_SST_PRM_2_data()
{
    HDR_SST_PRM_2_data.Epoch_Information = 0.0;
}

void HDR_PutToStruct_SST_PRM_2(int flags, const char* text)
{
    if (flags != 127)
        return;
    double year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const int found = std::sscanf(text, "%lf-%lf-%lf %lf:%lf:%lf GPS", &year, &month, &day,
                                  &hour, &minute, &second);
    if (found != 6) {
        report_failure("bad epoch reference: %s\n", text);
        return;
    }
    HDR_SST_PRM_2_data.Epoch_Information = gps_seconds(year, month, day, hour, minute, second);
    std::printf("found epoch reference: %4.0f %2.0f %2.0f %2.0f %2.0f %2.0f (in GPS-time: %f)\n",
                year, month, day, hour, minute, second, HDR_SST_PRM_2_data.Epoch_Information);
}
