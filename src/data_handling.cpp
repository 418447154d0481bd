// Product records: for every product type its description, its reset, the
// setters that take element text under a tag path, and the writer that
// prints one table line; the embedded-document path; the header epoch
// record; the run's state.
#include "l2xml2ascii.h"
#include "numtext.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

RunState run_state;

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
    report_line("TAIHEN: output file is not open!\n");
    return false;
}

void fill(double* values, int count)
{
    for (int i = 0; i < count; ++i)
        values[i] = kUnset;
}

// Stores `text` in the field of the first route the tag path shows.
template <std::size_t N>
void store_routed(const std::array<FieldRoute, N>& routes, const TagPath& tags, const char* text)
{
    for (const FieldRoute& route : routes) {
        if (!tag_path_shows_from(tags, 5, route.below_record))
            continue;
        double value = parse_double(text);
        if (route.adds_epoch)
            value += run_state.HDR_SST_PRM_2_data.Epoch_Information;
        *route.field = value;
        return;
    }
}

// Fewest open elements under which text can reach one of the fields: every
// entry a route compares belongs to an open element (codes are never 0).
template <std::size_t N>
constexpr int32_t fewest_open_elements(const std::array<FieldRoute, N>& routes)
{
    std::size_t shortest = kTagDepths;
    for (const FieldRoute& route : routes)
        shortest = std::min(shortest, route.below_record.length);
    return static_cast<int32_t>(5 + shortest);
}

template <std::size_t N, std::size_t M>
constexpr std::array<FieldRoute, N + M> joined(const std::array<FieldRoute, N>& a,
                                                const std::array<FieldRoute, M>& b)
{
    std::array<FieldRoute, N + M> all{};
    for (std::size_t i = 0; i < N; ++i)
        all[i] = a[i];
    for (std::size_t i = 0; i < M; ++i)
        all[N + i] = b[i];
    return all;
}

}  // namespace

// ===========================================================================
// EGG_NOM_2: gravity gradients

namespace {

// Components always come in the order XX, YY, ZZ, XY, XZ, YZ: a group names
// its first member, the others follow it in the vocabulary.
constexpr GradientGroup gradient_group(std::initializer_list<const char*> below_record,
                                       const char* first_member, int members,
                                       GradientField kind, long double* time, double* values,
                                       int16_t* flags)
{
    const CodePath path = path_from(4, below_record);
    return GradientGroup{path, vocabulary::listed_code(first_member, 4 + static_cast<int>(path.length)),
                         members, kind, time, values, flags};
}

constexpr GradientGroup double_group(std::initializer_list<const char*> below_record,
                                     const char* first_member, int members, double* values)
{
    return gradient_group(below_record, first_member, members, GradientField::kDouble, nullptr,
                          values, nullptr);
}

// No group's path begins another's, so at most one group takes a text; the
// groups under one depth-4 element stand together.
constexpr std::array<GradientGroup, 11> kGradientGroups = {
    gradient_group({"Time_Information"}, "GPS_Time", 1, GradientField::kTime,
                   &run_state.EGG_NOM_2_data.gps_time, nullptr, nullptr),
    double_group({"Gravity_Gradients"}, "XX", 6, run_state.EGG_NOM_2_data.gradients),
    double_group({"Sigmas"}, "XX", 6, run_state.EGG_NOM_2_data.sigmas),
    gradient_group({"Flags"}, "XX", 6, GradientField::kFlag, nullptr, nullptr,
                   run_state.EGG_NOM_2_data.flags),
    double_group({"Corrections", "Temporal", "Tidal", "Direct_Tides"}, "XX", 6,
                 run_state.EGG_NOM_2_data.direct_tides),
    double_group({"Corrections", "Temporal", "Tidal", "Solid_Earth"}, "XX", 6,
                 run_state.EGG_NOM_2_data.solid_earth_tides),
    double_group({"Corrections", "Temporal", "Tidal", "Ocean_Tides"}, "XX", 6,
                 run_state.EGG_NOM_2_data.ocean_tides),
    double_group({"Corrections", "Temporal", "Tidal", "Pole_Tides"}, "XX", 6,
                 run_state.EGG_NOM_2_data.pole_tides),
    double_group({"Corrections", "Temporal", "Non-Tidal"}, "XX", 6,
                 run_state.EGG_NOM_2_data.non_tidal),
    double_group({"Corrections", "Calibration"}, "XX", 6, run_state.EGG_NOM_2_data.calibration),
    double_group({"Quaternions"}, "Q1", 4, run_state.EGG_NOM_2_data.quaternions),
};

// What the walk in PutToStruct_EGG_NOM_2 relies on.
constexpr bool groups_are_well_formed()
{
    for (std::size_t a = 0; a < kGradientGroups.size(); ++a) {
        const CodePath& first = kGradientGroups[a].below_record;
        for (std::size_t b = 0; b < kGradientGroups.size(); ++b) {
            const CodePath& second = kGradientGroups[b].below_record;
            if (a == b || first.length > second.length)
                continue;
            std::size_t same = 0;
            while (same < first.length && first.codes[same] == second.codes[same])
                ++same;
            if (same == first.length)
                return false;  // one group's path begins another's
        }
        // Groups under one depth-4 element stand together.
        for (std::size_t b = a + 2; b < kGradientGroups.size(); ++b)
            if (kGradientGroups[b].below_record.codes[0] == first.codes[0] &&
                kGradientGroups[b - 1].below_record.codes[0] != first.codes[0])
                return false;
    }
    return true;
}
static_assert(groups_are_well_formed(), "gradient groups");

}  // namespace

// The columns in the order the writer prints them; values as in the file.
constexpr const char* kEggColumnNames =
    "gps_time XX YY ZZ XY XZ YZ "
    "sigma_XX sigma_YY sigma_ZZ sigma_XY sigma_XZ sigma_YZ "
    "flag_XX flag_YY flag_ZZ flag_XY flag_XZ flag_YZ "
    "direct_tides_XX direct_tides_YY direct_tides_ZZ direct_tides_XY direct_tides_XZ direct_tides_YZ "
    "solid_earth_tides_XX solid_earth_tides_YY solid_earth_tides_ZZ solid_earth_tides_XY solid_earth_tides_XZ solid_earth_tides_YZ "
    "ocean_tides_XX ocean_tides_YY ocean_tides_ZZ ocean_tides_XY ocean_tides_XZ ocean_tides_YZ "
    "pole_tides_XX pole_tides_YY pole_tides_ZZ pole_tides_XY pole_tides_XZ pole_tides_YZ "
    "non_tidal_XX non_tidal_YY non_tidal_ZZ non_tidal_XY non_tidal_XZ non_tidal_YZ "
    "calibration_XX calibration_YY calibration_ZZ calibration_XY calibration_XZ calibration_YZ "
    "Q1 Q2 Q3 Q4";

constexpr ProductDescription kEGG_NOM_2_description = {
    "EGG_NOM_2", kEGG_NOM_2, "ascii",
    nothing_below(tag_path({"Data_Block", "EGG_NOM_2"})),
    nothing_below(tag_path({"Data_Block", "EGG_NOM_2", "List_of_GG_time_Records"})),
    tag_path({"Data_Block", "EGG_NOM_2", "List_of_GG_time_Records", "GG_time_Record"}),
    nullptr, 0,
    nullptr, 0,
    kGradientGroups.data(), kGradientGroups.size(),
    0,  // every text in a record is looked at (and may be reported)
    kEggColumnNames, false,
    initialize_EGG_NOM_2_data, PutToStruct_EGG_NOM_2, OutputToFileASCII_EGG_NOM_2,
    &RunState::fid_egg_nom,
};

namespace {

// The member of `group` that the tag path shows, or -1.
int32_t gradient_member(const GradientGroup& group, const TagPath& tags)
{
    if (!tag_path_shows_from(tags, 4, group.below_record))
        return -1;
    const int32_t member = tags[4 + group.below_record.length] - group.first_member;
    return member >= 0 && member < group.members ? member : -1;
}

// The groups whose path starts with `code` at depth 4, in table order.
struct GroupRun {
    const GradientGroup* first = nullptr;
    const GradientGroup* last = nullptr;
    const GradientGroup* begin() const { return first; }
    const GradientGroup* end() const { return last; }
};

GroupRun gradient_groups_under(int32_t code)
{
    constexpr int32_t kCodes = 16;  // above every depth-4 code
    static const std::array<GroupRun, kCodes> runs = [] {
        std::array<GroupRun, kCodes> result{};
        for (const GradientGroup& group : kGradientGroups) {
            GroupRun& run = result[static_cast<std::size_t>(group.below_record.codes[0])];
            if (run.first == nullptr)
                run.first = &group;
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

void initialize_EGG_NOM_2_data()
{
    EGG_NOM_2_record& r = run_state.EGG_NOM_2_data;
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
    const CodePath& record = kEGG_NOM_2_description.record;
    // The texts of a record come group by group: the group that took the
    // last one is asked first.  At most one group takes a text, so that
    // group is the one the walk would find.
    static const GradientGroup* last_group = nullptr;
    if (last_group != nullptr && tag_path_shows(tags, record)) {
        const int32_t member = gradient_member(*last_group, tags);
        if (member >= 0) {
            store_gradient_field(*last_group, member, text);
            return;
        }
    }
    int level = 0;
    while (level < 4 && tags[level] == record.codes[level])
        ++level;
    if (level == 4) {
        // Deepest depth reached by any group; the walk stops where all left.
        // Groups that differ at depth 4 leave there, so only the run of
        // groups under the depth-4 element is walked.
        int deepest = 4;
        for (const GradientGroup& group : gradient_groups_under(tags[4])) {
            const int length = static_cast<int>(group.below_record.length);
            int matched = 1;
            while (matched < length && tags[4 + matched] == group.below_record.codes[matched])
                ++matched;
            if (matched == length) {
                const int32_t member = tags[4 + matched] - group.first_member;
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
    report_line("MESSAGE: tag not found --> level %d, tags %d %d %d %d %d %d %d %d\n", level,
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
    const EGG_NOM_2_record& r = run_state.EGG_NOM_2_data;
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

namespace {

void put_covariance_indices(const TagPath& tags, const char* const* values)
{
    PutToStruct_SST_PCV_2_Indices(tags, values[0], values[1]);
}

constexpr CodePath kCovarianceRecord = tag_path(
    {"Data_Block", "SST_PSO_2", "SST_PCV_2", "List_of_Covariance_Records", "Covariance_Record"});

constexpr AttributeRoute kCovarianceAttributes[] = {
    {nothing_below(kCovarianceRecord), {"row", "column"}, put_covariance_indices},
};

}  // namespace

constexpr ProductDescription kSST_PCV_2_description = {
    "SST_PCV_2", kSST_PCV_2, "ascii",
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PCV_2"})),
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PCV_2", "List_of_Covariance_Records"})),
    kCovarianceRecord,
    kCovarianceAttributes, 1,
    nullptr, 0,
    nullptr, 0,
    0,
    "row column element", false,
    initialize_SST_PCV_2_data, PutToStruct_SST_PCV_2, OutputToFileASCII_SST_PCV_2,
    &RunState::fid_sst_pcv,
};

void initialize_SST_PCV_2_data()
{
    SST_PCV_2_record& r = run_state.SST_PCV_2_data;
    r.row = kUnsetIndex;
    r.column = kUnsetIndex;
    r.value = kUnset;
}

namespace {

// The indices are 32-bit: a wider strtol result keeps its low 32 bits.
int32_t to_index(const char* text)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(parse_long(text))));
}

}  // namespace

// Indices and value are taken only with nothing open inside the record.
void PutToStruct_SST_PCV_2_Indices(const TagPath& tags, const char* row_text,
                                   const char* column_text)
{
    if (!tag_path_shows(tags, nothing_below(kCovarianceRecord)))
        return;
    if (row_text != nullptr)
        run_state.SST_PCV_2_data.row = to_index(row_text);
    if (column_text != nullptr)
        run_state.SST_PCV_2_data.column = to_index(column_text);
}

void PutToStruct_SST_PCV_2(const TagPath& tags, const char* text)
{
    if (tag_path_shows(tags, nothing_below(kCovarianceRecord)))
        run_state.SST_PCV_2_data.value = parse_double(text);
}

void OutputToFileASCII_SST_PCV_2(OutputFile& out)
{
    // "%6d %6d   %14.7e\n"
    const SST_PCV_2_record& r = run_state.SST_PCV_2_data;
    if (can_write(out))
        TableLine(out).d(r.row, 6).blanks(1).d(r.column, 6).blanks(3).e(r.value, 14, 7).finish();
    initialize_SST_PCV_2_data();
}

// ===========================================================================
// SST_PKI_2 and SST_PRD_2: orbits

namespace {

// Entries from depth 5 of an element under the satellite L15 (from depth 7).
constexpr CodePath l15(std::initializer_list<const char*> below)
{
    CodePath path = path_from(5, {"List_of_Satellite_IDs", "L15"});
    const CodePath rest = path_from(7, below);
    for (std::size_t i = 0; i < rest.length; ++i)
        path.codes[path.length++] = rest.codes[i];
    return path;
}

// The epoch, position and clock routes both orbit records have.
template <typename Record>
constexpr std::array<FieldRoute, 10> orbit_state_routes(Record& r)
{
    auto epoch = [](const char* field) {
        return path_from(5, {"Time_Information", "GPS_Time", "Start", "Gregorian", field});
    };
    return {{
        {epoch("Year"), &r.year, false},
        {epoch("Month"), &r.month, false},
        {epoch("Day_of_Month"), &r.day, false},
        {epoch("Hour"), &r.hour, false},
        {epoch("Minute"), &r.minute, false},
        {epoch("Second"), &r.second, false},
        {l15({"Position", "X"}), &r.x, false},
        {l15({"Position", "Y"}), &r.y, false},
        {l15({"Position", "Z"}), &r.z, false},
        {l15({"Clock"}), &r.clock, false},
    }};
}

// Velocities and clock change rate of the reduced-dynamic orbit.
constexpr std::array<FieldRoute, 4> velocity_routes(SST_PRD_2_record& r)
{
    return {{
        {l15({"Velocity", "X"}), &r.vx, false},
        {l15({"Velocity", "Y"}), &r.vy, false},
        {l15({"Velocity", "Z"}), &r.vz, false},
        {l15({"Clock_Change_Rate"}), &r.clock_change_rate, false},
    }};
}

constexpr std::array<FieldRoute, 10> kPkiFields = orbit_state_routes(run_state.SST_PKI_2_data);
constexpr std::array<FieldRoute, 14> kPrdFields =
    joined(orbit_state_routes(run_state.SST_PRD_2_data), velocity_routes(run_state.SST_PRD_2_data));

// The element whose "unit" attribute scales a record's positions or velocities.
constexpr CodePath unit_element(const char* product, const char* element)
{
    CodePath path = tag_path({"Data_Block", "SST_PSO_2", product, "List_of_SP3c_Records",
                              "SP3c_Record", "List_of_Satellite_IDs", "L15", element});
    return nothing_below(path);
}

bool is_unit(const char* const* values, const char* unit)
{
    return values[0] != nullptr && std::strcmp(values[0], unit) == 0;
}

void put_pki_position_unit(const TagPath&, const char* const* values)
{
    if (is_unit(values, "km"))
        PutToStruct_SST_PKI_2_Position_Factor(1000.0);
}

void put_prd_position_unit(const TagPath&, const char* const* values)
{
    if (is_unit(values, "km"))
        PutToStruct_SST_PRD_2_Position_Factor(1000.0);
}

void put_prd_velocity_unit(const TagPath&, const char* const* values)
{
    if (is_unit(values, "dm/s"))
        PutToStruct_SST_PRD_2_Velocity_Factor(0.1);
}

constexpr AttributeRoute kPkiAttributes[] = {
    {unit_element("SST_PKI_2", "Position"), {"unit", nullptr}, put_pki_position_unit},
};

constexpr AttributeRoute kPrdAttributes[] = {
    {unit_element("SST_PRD_2", "Position"), {"unit", nullptr}, put_prd_position_unit},
    {unit_element("SST_PRD_2", "Velocity"), {"unit", nullptr}, put_prd_velocity_unit},
};

}  // namespace

constexpr ProductDescription kSST_PKI_2_description = {
    "SST_PKI_2", kSST_PKI_2, "ascii",
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PKI_2"})),
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PKI_2", "List_of_SP3c_Records"})),
    tag_path({"Data_Block", "SST_PSO_2", "SST_PKI_2", "List_of_SP3c_Records", "SP3c_Record"}),
    kPkiAttributes, 1,
    kPkiFields.data(), kPkiFields.size(),
    nullptr, 0,
    fewest_open_elements(orbit_state_routes(run_state.SST_PKI_2_data)),
    "gps_time[s] X[m] Y[m] Z[m] clock", false,
    initialize_SST_PKI_2_data, PutToStruct_SST_PKI_2, OutputToFileASCII_SST_PKI_2,
    &RunState::fid_sst_pki,
};

constexpr ProductDescription kSST_PRD_2_description = {
    "SST_PRD_2", kSST_PRD_2, "ascii",
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PRD_2"})),
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PRD_2", "List_of_SP3c_Records"})),
    tag_path({"Data_Block", "SST_PSO_2", "SST_PRD_2", "List_of_SP3c_Records", "SP3c_Record"}),
    kPrdAttributes, 2,
    kPrdFields.data(), kPrdFields.size(),
    nullptr, 0,
    fewest_open_elements(joined(orbit_state_routes(run_state.SST_PRD_2_data),
                                velocity_routes(run_state.SST_PRD_2_data))),
    "gps_time[s] X[m] Y[m] Z[m] clock VX[m/s] VY[m/s] VZ[m/s] clock_change_rate", false,
    initialize_SST_PRD_2_data, PutToStruct_SST_PRD_2, OutputToFileASCII_SST_PRD_2,
    &RunState::fid_sst_prd,
};

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
    reset_epoch_and_position(run_state.SST_PKI_2_data);
}

void initialize_SST_PRD_2_data()
{
    SST_PRD_2_record& r = run_state.SST_PRD_2_data;
    reset_epoch_and_position(r);
    r.velocity_factor = 1.0;
    r.vx = r.vy = r.vz = kUnset;
    r.clock_change_rate = kUnset;
}

void PutToStruct_SST_PKI_2(const TagPath& tags, const char* text)
{
    if (tag_path_shows(tags, kSST_PKI_2_description.record))
        store_routed(kPkiFields, tags, text);
}

void PutToStruct_SST_PRD_2(const TagPath& tags, const char* text)
{
    if (tag_path_shows(tags, kSST_PRD_2_description.record))
        store_routed(kPrdFields, tags, text);
}

void PutToStruct_SST_PKI_2_Position_Factor(double factor)
{
    run_state.SST_PKI_2_data.position_factor = factor;
}

void PutToStruct_SST_PRD_2_Position_Factor(double factor)
{
    run_state.SST_PRD_2_data.position_factor = factor;
}

void PutToStruct_SST_PRD_2_Velocity_Factor(double factor)
{
    run_state.SST_PRD_2_data.velocity_factor = factor;
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
        put_orbit_columns(line, run_state.SST_PKI_2_data);
        line.finish();
    }
    initialize_SST_PKI_2_data();
}

void OutputToFileASCII_SST_PRD_2(OutputFile& out)
{
    // The orbit columns, then "   %12.6f %12.6f %12.6f %12.6f".
    const SST_PRD_2_record& r = run_state.SST_PRD_2_data;
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

namespace {

// The time since the header's epoch reference, and the quaternion, which
// may also stand under Time_Information.
constexpr std::array<FieldRoute, 9> rotation_routes(SST_PRM_2_record& r)
{
    return {{
        {path_from(5, {"Time_Information", "Time_Since_Reference_Epoch"}), &r.time, true},
        {path_from(5, {"Quaternions", "Q1"}), &r.q1, false},
        {path_from(5, {"Time_Information", "Q1"}), &r.q1, false},
        {path_from(5, {"Quaternions", "Q2"}), &r.q2, false},
        {path_from(5, {"Time_Information", "Q2"}), &r.q2, false},
        {path_from(5, {"Quaternions", "Q3"}), &r.q3, false},
        {path_from(5, {"Time_Information", "Q3"}), &r.q3, false},
        {path_from(5, {"Quaternions", "Q4"}), &r.q4, false},
        {path_from(5, {"Time_Information", "Q4"}), &r.q4, false},
    }};
}

constexpr std::array<FieldRoute, 9> kPrmFields = rotation_routes(run_state.SST_PRM_2_data);

}  // namespace

constexpr ProductDescription kSST_PRM_2_description = {
    "SST_PRM_2", kSST_PRM_2, "ascii",
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PRM_2"})),
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PRM_2", "List_of_Rotation_Records"})),
    tag_path({"Data_Block", "SST_PSO_2", "SST_PRM_2", "List_of_Rotation_Records", "Rotation_Record"}),
    nullptr, 0,
    kPrmFields.data(), kPrmFields.size(),
    nullptr, 0,
    fewest_open_elements(rotation_routes(run_state.SST_PRM_2_data)),
    "gps_time[s] Q1 Q2 Q3 Q4", false,
    initialize_SST_PRM_2_data, PutToStruct_SST_PRM_2, OutputToFileASCII_SST_PRM_2,
    &RunState::fid_sst_prm,
};

void initialize_SST_PRM_2_data()
{
    SST_PRM_2_record& r = run_state.SST_PRM_2_data;
    r.time = r.q1 = r.q2 = r.q3 = r.q4 = kUnset;
}

void PutToStruct_SST_PRM_2(const TagPath& tags, const char* text)
{
    if (tag_path_shows(tags, kSST_PRM_2_description.record))
        store_routed(kPrmFields, tags, text);
}

void OutputToFileASCII_SST_PRM_2(OutputFile& out)
{
    const SST_PRM_2_record& r = run_state.SST_PRM_2_data;
    // "%20.9f   %2.16f %2.15f %2.16f %2.16f\n"
    if (can_write(out))
        TableLine(out).f(r.time, 20, 9).blanks(3).f(r.q1, 2, 16).blanks(1).f(r.q2, 2, 15)
            .blanks(1).f(r.q3, 2, 16).blanks(1).f(r.q4, 2, 16).finish();
    initialize_SST_PRM_2_data();
}

// ===========================================================================
// SST_PRP_2: embedded documents

namespace {

constexpr CodePath kDocumentRecord =
    tag_path({"Data_Block", "SST_PSO_2", "SST_PRP_2", "List_of_PDF_Files", "PDF_File"});

void put_document_encoding(const TagPath& tags, const char* const* values)
{
    PutToStruct_SST_PRP_2(tags, values[0]);
}

constexpr AttributeRoute kDocumentAttributes[] = {
    {nothing_below(kDocumentRecord), {"encoding", nullptr}, put_document_encoding},
};

}  // namespace

constexpr ProductDescription kSST_PRP_2_description = {
    "SST_PRP_2", kSST_PRP_2, "pdf",
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PRP_2"})),
    // Documents are written as their text comes, not when a record ends.
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PRP_2", "List_of_PDF_Files"})),
    kDocumentRecord,
    kDocumentAttributes, 1,
    nullptr, 0,
    nullptr, 0,
    0,
    nullptr, true,
    initialize_SST_PRP_2_data, PutToStruct_SST_PRP_2_Text, nullptr,
    &RunState::fid_sst_prp,
};

void initialize_SST_PRP_2_data()
{
    run_state.SST_PRP_2_data.encoding = 0;
}

void PutToStruct_SST_PRP_2(const TagPath& tags, const char* encoding)
{
    if (!tag_path_shows(tags, nothing_below(kDocumentRecord)))
        return;
    const bool base64 = encoding != nullptr && std::strcmp(encoding, "Base64") == 0;
    PutToStruct_SST_PRP_2_Encoding(base64 ? 1 : 0);
}

void PutToStruct_SST_PRP_2_Text(const TagPath& tags, const char* text)
{
    // Without its file the document's text is dropped.
    if (tag_path_shows(tags, kDocumentRecord) && run_state.fid_sst_prp.is_open())
        OutputToFile_SST_PRP_2_Document(run_state.fid_sst_prp, text);
}

void PutToStruct_SST_PRP_2_Encoding(int32_t encoding)
{
    run_state.SST_PRP_2_data.encoding = encoding;
}

int32_t GetFromStruct_SST_PRP_2_Encoding()
{
    return run_state.SST_PRP_2_data.encoding;
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
        report_line("no encoding!\n");
        out.write(text, length);
    }
    PutToStruct_SST_PRP_2_Encoding(0);
}

// ===========================================================================
// Header epoch record

void HDR_initialize_SST_PRM_2_data()
{
    run_state.HDR_SST_PRM_2_data.Epoch_Information = 0.0;
}

void HDR_PutToStruct_SST_PRM_2(int flags, const char* text)
{
    if (flags != kAllHeaderElements)
        return;
    double year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const int found = std::sscanf(text, "%lf-%lf-%lf %lf:%lf:%lf GPS", &year, &month, &day,
                                  &hour, &minute, &second);
    if (found != 6) {
        report_failure("bad epoch reference: %s\n", text);
        return;
    }
    run_state.HDR_SST_PRM_2_data.Epoch_Information = gps_seconds(year, month, day, hour, minute, second);
    std::printf("found epoch reference: %4.0f %2.0f %2.0f %2.0f %2.0f %2.0f (in GPS-time: %f)\n",
                year, month, day, hour, minute, second, run_state.HDR_SST_PRM_2_data.Epoch_Information);
}

// ===========================================================================
// The products and the run's state

constexpr std::array<const ProductDescription*, 6> kProductDescriptions = {
    &kEGG_NOM_2_description, &kSST_PCV_2_description, &kSST_PKI_2_description,
    &kSST_PRD_2_description, &kSST_PRM_2_description, &kSST_PRP_2_description,
};

void start_input()
{
    RunState& s = run_state;
    s.TAG_flags.fill(0);
    s.HDR_TAG_flags = 0;
    s.product = kNoProduct;
    s.open_product = nullptr;
    s.sections_started = 0;
    initialize_EGG_NOM_2_data();
    initialize_SST_PCV_2_data();
    initialize_SST_PKI_2_data();
    initialize_SST_PRD_2_data();
    initialize_SST_PRM_2_data();
    initialize_SST_PRP_2_data();
    HDR_initialize_SST_PRM_2_data();
}

void reset_run_state()
{
    RunState& s = run_state;
    for (const ProductDescription* p : kProductDescriptions)
        (s.*(p->stream)).close();
    start_input();
    s.failures = 0;
    s.product_file.clear();
    s.header_file.clear();
    s.product_identity = FileIdentity{};
    s.header_identity = FileIdentity{};
    s.outputs_opened.clear();
    s.documents_started = 0;
    s.status_line_width = 0;
    s.column_names = false;
    s.split_documents = false;
    s.progress = ProgressChoice::kAuto;
}
