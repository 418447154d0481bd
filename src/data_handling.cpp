// Product records: for every product type its record, its description (by
// element names), its columns, its reset, the setters that take element text
// under a tag path, and the function that gives a finished record's values
// in column order; the embedded-document path; the header epoch record.
#include "l2xml2ascii.h"
#include "base64.h"
#include "helpers.h"
#include "numtext.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <tuple>

namespace {

// Fill value of a floating-point field not set since the last reset; the
// positive quiet NaN, so that it prints as "nan".
constexpr double kUnset = std::numeric_limits<double>::quiet_NaN();

constexpr int32_t kUnsetIndex = -999999;  // covariance row or column not given
constexpr int16_t kUnsetFlag = -1;        // gravity-gradient flag not given

// The record of type `Record` among a conversion's records (defined with
// ProductRecords at the end of this file).
template <typename Record>
Record& record_in(ProductRecords& records);
template <typename Record>
const Record& record_in(const ProductRecords& records)
{
    return record_in<Record>(const_cast<ProductRecords&>(records));
}

// The header's epoch reference, in GPS-time seconds.
double epoch_reference(const ProductRecords& records);

void fill(double* values, int count)
{
    for (int i = 0; i < count; ++i)
        values[i] = kUnset;
}

Value real(double v)
{
    Value value;
    value.real = v;
    return value;
}

Value integer(int32_t v)
{
    Value value;
    value.integer = v;
    return value;
}

// A record field of `Record` chosen by the tag path entries below the record
// (from depth 5 on).
template <typename Record>
struct FieldRoute {
    CodePath below_record;   // entries from depth 5 that select the field
    double Record::*field;
};

// Stores `text` in the field of the first route the tag path shows.
template <typename Record, std::size_t N>
void store_routed(const std::array<FieldRoute<Record>, N>& routes, Record& record,
                  const TagPath& tags, const char* text)
{
    for (const FieldRoute<Record>& route : routes) {
        if (tag_path_shows_from(tags, 5, route.below_record)) {
            record.*route.field = parse_double(text);
            return;
        }
    }
}

// Fewest open elements under which text can reach one of the fields: every
// entry a route compares belongs to an open element (codes are never 0).
template <typename Record, std::size_t N>
constexpr int32_t fewest_open_elements(const std::array<FieldRoute<Record>, N>& routes)
{
    std::size_t shortest = kTagDepths;
    for (const FieldRoute<Record>& route : routes)
        shortest = std::min(shortest, route.below_record.length);
    return static_cast<int32_t>(5 + shortest);
}

template <typename T, std::size_t N, std::size_t M>
constexpr std::array<T, N + M> joined(const std::array<T, N>& a, const std::array<T, M>& b)
{
    std::array<T, N + M> all{};
    for (std::size_t i = 0; i < N; ++i)
        all[i] = a[i];
    for (std::size_t i = 0; i < M; ++i)
        all[N + i] = b[i];
    return all;
}

// Columns of one kind, named in order, each `blanks` after the one before
// and `first_blanks` after what precedes the first.
template <std::size_t N>
constexpr std::array<Column, N> columns(const char* const (&names)[N], const char* unit,
                                        ValueType type, const char* format, int first_blanks,
                                        int blanks = 1)
{
    std::array<Column, N> all{};
    for (std::size_t i = 0; i < N; ++i)
        all[i] = column(names[i], unit, type, format, i == 0 ? first_blanks : blanks);
    return all;
}

}  // namespace

std::string format_line(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string line;
    if (length > 0) {
        line.resize(static_cast<std::size_t>(length));
        std::vsnprintf(&line[0], line.size() + 1, format, again);
    }
    va_end(again);
    return line;
}

// Everything of one product stays in this file: only the descriptions leave it.
namespace {

// ===========================================================================
// EGG_NOM_2: gravity gradients

struct GradientGroup;

struct EGG_NOM_2_record {
    long double gps_time;
    double gradients[6];
    double sigmas[6];
    int16_t flags[6];
    double direct_tides[6];
    double solid_earth_tides[6];
    double ocean_tides[6];
    double pole_tides[6];
    double non_tidal[6];
    double calibration[6];
    double quaternions[4];
    // The group that took the record's last text (see PutToStruct_EGG_NOM_2);
    // not a value of the record, so its reset leaves it.
    const GradientGroup* last_group;
};

// A group of gravity-gradient fields: a run of tag path entries below
// GG_time_Record (from depth 4 on), then one entry that picks the member.
enum class GradientField { kTime, kDouble, kFlag };

struct GradientGroup {
    CodePath below_record;   // entries from depth 4 down to the members' parent
    int32_t first_member;    // code of the first member at the next depth
    int members;
    GradientField kind;
    double* (*values)(EGG_NOM_2_record& r);  // the members of a kDouble group
};

// Components always come in the order XX, YY, ZZ, XY, XZ, YZ: a group names
// its first member, the others follow it in the vocabulary.
constexpr GradientGroup gradient_group(std::initializer_list<const char*> below_record,
                                       const char* first_member, int members,
                                       GradientField kind,
                                       double* (*values)(EGG_NOM_2_record&) = nullptr)
{
    const CodePath path = path_from(4, below_record);
    return GradientGroup{path,
                         vocabulary::listed_code(first_member, 4 + static_cast<int>(path.length)),
                         members, kind, values};
}

// No group's path begins another's, so at most one group takes a text; the
// groups under one depth-4 element stand together.
constexpr std::array<GradientGroup, 11> kGradientGroups = {
    gradient_group({"Time_Information"}, "GPS_Time", 1, GradientField::kTime),
    gradient_group({"Gravity_Gradients"}, "XX", 6, GradientField::kDouble,
                   [](EGG_NOM_2_record& r) { return r.gradients; }),
    gradient_group({"Sigmas"}, "XX", 6, GradientField::kDouble,
                   [](EGG_NOM_2_record& r) { return r.sigmas; }),
    gradient_group({"Flags"}, "XX", 6, GradientField::kFlag),
    gradient_group({"Corrections", "Temporal", "Tidal", "Direct_Tides"}, "XX", 6,
                   GradientField::kDouble, [](EGG_NOM_2_record& r) { return r.direct_tides; }),
    gradient_group({"Corrections", "Temporal", "Tidal", "Solid_Earth"}, "XX", 6,
                   GradientField::kDouble, [](EGG_NOM_2_record& r) { return r.solid_earth_tides; }),
    gradient_group({"Corrections", "Temporal", "Tidal", "Ocean_Tides"}, "XX", 6,
                   GradientField::kDouble, [](EGG_NOM_2_record& r) { return r.ocean_tides; }),
    gradient_group({"Corrections", "Temporal", "Tidal", "Pole_Tides"}, "XX", 6,
                   GradientField::kDouble, [](EGG_NOM_2_record& r) { return r.pole_tides; }),
    gradient_group({"Corrections", "Temporal", "Non-Tidal"}, "XX", 6, GradientField::kDouble,
                   [](EGG_NOM_2_record& r) { return r.non_tidal; }),
    gradient_group({"Corrections", "Calibration"}, "XX", 6, GradientField::kDouble,
                   [](EGG_NOM_2_record& r) { return r.calibration; }),
    gradient_group({"Quaternions"}, "Q1", 4, GradientField::kDouble,
                   [](EGG_NOM_2_record& r) { return r.quaternions; }),
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

// The groups whose path starts with a code at depth 4: [first, last) in
// kGradientGroups.
struct GroupRun {
    std::size_t first = 0;
    std::size_t last = 0;
};

constexpr int32_t kDepth4Codes = 16;  // above every depth-4 code

constexpr std::array<GroupRun, kDepth4Codes> make_group_runs()
{
    std::array<GroupRun, kDepth4Codes> runs{};
    for (std::size_t g = 0; g < kGradientGroups.size(); ++g) {
        GroupRun& run = runs[static_cast<std::size_t>(kGradientGroups[g].below_record.codes[0])];
        if (run.first == run.last)
            run.first = g;
        run.last = g + 1;
    }
    return runs;
}

constexpr std::array<GroupRun, kDepth4Codes> kGroupRuns = make_group_runs();

// The member of `group` that the tag path shows, or -1.
int32_t gradient_member(const GradientGroup& group, const TagPath& tags)
{
    if (!tag_path_shows_from(tags, 4, group.below_record))
        return -1;
    const int32_t member = tags[4 + group.below_record.length] - group.first_member;
    return member >= 0 && member < group.members ? member : -1;
}

void store_gradient_field(EGG_NOM_2_record& r, const GradientGroup& group, int member,
                          const char* text)
{
    switch (group.kind) {
    case GradientField::kTime:
        r.gps_time = parse_double(text);
        break;
    case GradientField::kDouble:
        group.values(r)[member] = parse_double(text);
        break;
    case GradientField::kFlag:
        // The low 16 bits of the integer, read as a signed 16-bit value.
        r.flags[member] =
            static_cast<int16_t>(static_cast<uint16_t>(static_cast<unsigned long>(parse_long(text))));
        break;
    }
}

constexpr const char* kComponents[] = {"XX", "YY", "ZZ", "XY", "XZ", "YZ"};

// In the order of a table line: "%20.9Lf", then groups of "%15.8e" (flags
// "%d") with one blank inside a group and three between groups, two before
// the non-tidal one.  Values as the product gives them.
constexpr std::array<Column, 59> kEggColumns = joined(
    joined(joined(joined(std::array<Column, 1>{column("gps_time", "s", ValueType::kLongDouble,
                                                      "%20.9Lf", 0, false)},
                         columns(kComponents, "", ValueType::kDouble, "%15.8e", 3)),
                  joined(columns({"sigma_XX", "sigma_YY", "sigma_ZZ", "sigma_XY", "sigma_XZ",
                                  "sigma_YZ"}, "", ValueType::kDouble, "%15.8e", 3),
                         columns({"flag_XX", "flag_YY", "flag_ZZ", "flag_XY", "flag_XZ",
                                  "flag_YZ"}, "", ValueType::kInt16, "%d", 3))),
           joined(joined(columns({"direct_tides_XX", "direct_tides_YY", "direct_tides_ZZ",
                                  "direct_tides_XY", "direct_tides_XZ", "direct_tides_YZ"},
                                 "", ValueType::kDouble, "%15.8e", 3),
                         columns({"solid_earth_tides_XX", "solid_earth_tides_YY",
                                  "solid_earth_tides_ZZ", "solid_earth_tides_XY",
                                  "solid_earth_tides_XZ", "solid_earth_tides_YZ"},
                                 "", ValueType::kDouble, "%15.8e", 3)),
                  joined(columns({"ocean_tides_XX", "ocean_tides_YY", "ocean_tides_ZZ",
                                  "ocean_tides_XY", "ocean_tides_XZ", "ocean_tides_YZ"},
                                 "", ValueType::kDouble, "%15.8e", 3),
                         columns({"pole_tides_XX", "pole_tides_YY", "pole_tides_ZZ",
                                  "pole_tides_XY", "pole_tides_XZ", "pole_tides_YZ"},
                                 "", ValueType::kDouble, "%15.8e", 3)))),
    joined(joined(columns({"non_tidal_XX", "non_tidal_YY", "non_tidal_ZZ", "non_tidal_XY",
                           "non_tidal_XZ", "non_tidal_YZ"}, "", ValueType::kDouble, "%15.8e", 2),
                  columns({"calibration_XX", "calibration_YY", "calibration_ZZ",
                           "calibration_XY", "calibration_XZ", "calibration_YZ"},
                          "", ValueType::kDouble, "%15.8e", 3)),
           columns({"Q1", "Q2", "Q3", "Q4"}, "", ValueType::kDouble, "%15.8e", 3)));

void initialize_EGG_NOM_2_data(ProductRecords& records)
{
    EGG_NOM_2_record& r = record_in<EGG_NOM_2_record>(records);
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

void PutToStruct_EGG_NOM_2(ProductRecords& records, const TagPath& tags, const char* text,
                           RecordOutput& output);

void GetFromStruct_EGG_NOM_2_Values(const ProductRecords& records, Value* out)
{
    const EGG_NOM_2_record& r = record_in<EGG_NOM_2_record>(records);
    // The time holds a double's value: as text it is that double's.
    out->long_double = r.gps_time;
    ++out;
    const double* before_flags[] = {r.gradients, r.sigmas};
    for (const double* group : before_flags)
        for (int i = 0; i < 6; ++i)
            *out++ = real(group[i]);
    for (int16_t flag : r.flags)
        *out++ = integer(flag);
    const double* after_flags[] = {r.direct_tides, r.solid_earth_tides, r.ocean_tides,
                                   r.pole_tides,   r.non_tidal,         r.calibration};
    for (const double* group : after_flags)
        for (int i = 0; i < 6; ++i)
            *out++ = real(group[i]);
    for (double q : r.quaternions)
        *out++ = real(q);
}

constexpr ProductDescription kEGG_NOM_2_description = {
    0, "EGG_NOM_2", kEGG_NOM_2, "ascii",
    nothing_below(tag_path({"Data_Block", "EGG_NOM_2"})),
    nothing_below(tag_path({"Data_Block", "EGG_NOM_2", "List_of_GG_time_Records"})),
    tag_path({"Data_Block", "EGG_NOM_2", "List_of_GG_time_Records", "GG_time_Record"}),
    nullptr, 0,
    0,  // every text in a record is looked at (and may be reported)
    kEggColumns.data(), kEggColumns.size(),
    initialize_EGG_NOM_2_data, PutToStruct_EGG_NOM_2, GetFromStruct_EGG_NOM_2_Values,
};

void PutToStruct_EGG_NOM_2(ProductRecords& records, const TagPath& tags, const char* text,
                           RecordOutput& output)
{
    EGG_NOM_2_record& r = record_in<EGG_NOM_2_record>(records);
    const CodePath& record = kEGG_NOM_2_description.record;
    // The texts of a record come group by group: the group that took the
    // last one is asked first.  At most one group takes a text, so that
    // group is the one the walk would find.
    if (r.last_group != nullptr && tag_path_shows(tags, record)) {
        const int32_t member = gradient_member(*r.last_group, tags);
        if (member >= 0) {
            store_gradient_field(r, *r.last_group, member, text);
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
        const GroupRun run = tags[4] >= 0 && tags[4] < kDepth4Codes
                                 ? kGroupRuns[static_cast<std::size_t>(tags[4])]
                                 : GroupRun{};
        for (std::size_t g = run.first; g < run.last; ++g) {
            const GradientGroup& group = kGradientGroups[g];
            const int length = static_cast<int>(group.below_record.length);
            int matched = 1;
            while (matched < length && tags[4 + matched] == group.below_record.codes[matched])
                ++matched;
            if (matched == length) {
                const int32_t member = tags[4 + matched] - group.first_member;
                if (member >= 0 && member < group.members) {
                    store_gradient_field(r, group, member, text);
                    r.last_group = &group;
                    return;
                }
            }
            if (4 + matched > deepest)
                deepest = 4 + matched;
        }
        level = deepest;
    }
    output.report(MessageKind::kWarning,
                  format_line("MESSAGE: tag not found --> level %d, tags %d %d %d %d %d %d %d %d\n",
                              level, tags[0], tags[1], tags[2], tags[3], tags[4], tags[5],
                              tags[6], tags[7]));
}

// ===========================================================================
// SST_PCV_2: covariance matrix elements

struct SST_PCV_2_record {
    int32_t row;
    int32_t column;
    double value;
};

constexpr CodePath kCovarianceRecord = tag_path(
    {"Data_Block", "SST_PSO_2", "SST_PCV_2", "List_of_Covariance_Records", "Covariance_Record"});

// The indices are 32-bit: a wider strtol result keeps its low 32 bits.
int32_t to_index(const char* text)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(parse_long(text))));
}

void initialize_SST_PCV_2_data(ProductRecords& records)
{
    SST_PCV_2_record& r = record_in<SST_PCV_2_record>(records);
    r.row = kUnsetIndex;
    r.column = kUnsetIndex;
    r.value = kUnset;
}

// Indices and value are taken only with nothing open inside the record.
void PutToStruct_SST_PCV_2_Indices(ProductRecords& records, const TagPath& tags,
                                   const char* row_text, const char* column_text)
{
    if (!tag_path_shows(tags, nothing_below(kCovarianceRecord)))
        return;
    SST_PCV_2_record& r = record_in<SST_PCV_2_record>(records);
    if (row_text != nullptr)
        r.row = to_index(row_text);
    if (column_text != nullptr)
        r.column = to_index(column_text);
}

void PutToStruct_SST_PCV_2(ProductRecords& records, const TagPath& tags, const char* text,
                           RecordOutput&)
{
    if (tag_path_shows(tags, nothing_below(kCovarianceRecord)))
        record_in<SST_PCV_2_record>(records).value = parse_double(text);
}

// "%6d %6d   %14.7e"
void GetFromStruct_SST_PCV_2_Values(const ProductRecords& records, Value* out)
{
    const SST_PCV_2_record& r = record_in<SST_PCV_2_record>(records);
    out[0] = integer(r.row);
    out[1] = integer(r.column);
    out[2] = real(r.value);
}

constexpr Column kCovarianceColumns[] = {
    column("row", "", ValueType::kInt32, "%6d", 0),
    column("column", "", ValueType::kInt32, "%6d", 1),
    column("element", "", ValueType::kDouble, "%14.7e", 3),
};

constexpr AttributeRoute kCovarianceAttributes[] = {
    {nothing_below(kCovarianceRecord), {"row", "column"},
     [](ProductRecords& records, const TagPath& tags, const char* const* values) {
         PutToStruct_SST_PCV_2_Indices(records, tags, values[0], values[1]);
     }},
};

constexpr ProductDescription kSST_PCV_2_description = {
    1, "SST_PCV_2", kSST_PCV_2, "ascii",
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PCV_2"})),
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PCV_2", "List_of_Covariance_Records"})),
    kCovarianceRecord,
    kCovarianceAttributes, 1,
    0,
    kCovarianceColumns, 3,
    initialize_SST_PCV_2_data, PutToStruct_SST_PCV_2, GetFromStruct_SST_PCV_2_Values,
};

// ===========================================================================
// SST_PKI_2 and SST_PRD_2: orbits

struct SST_PKI_2_record {
    double year, month, day, hour, minute, second;
    double position_factor;
    double x, y, z;
    double clock;
};

struct SST_PRD_2_record {
    double year, month, day, hour, minute, second;
    double position_factor;
    double x, y, z;
    double clock;
    double velocity_factor;
    double vx, vy, vz;
    double clock_change_rate;
};

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
constexpr std::array<FieldRoute<Record>, 10> orbit_state_routes()
{
    auto epoch = [](const char* field) {
        return path_from(5, {"Time_Information", "GPS_Time", "Start", "Gregorian", field});
    };
    return {{
        {epoch("Year"), &Record::year},
        {epoch("Month"), &Record::month},
        {epoch("Day_of_Month"), &Record::day},
        {epoch("Hour"), &Record::hour},
        {epoch("Minute"), &Record::minute},
        {epoch("Second"), &Record::second},
        {l15({"Position", "X"}), &Record::x},
        {l15({"Position", "Y"}), &Record::y},
        {l15({"Position", "Z"}), &Record::z},
        {l15({"Clock"}), &Record::clock},
    }};
}

// Velocities and clock change rate of the reduced-dynamic orbit.
constexpr std::array<FieldRoute<SST_PRD_2_record>, 4> kVelocityRoutes = {{
    {l15({"Velocity", "X"}), &SST_PRD_2_record::vx},
    {l15({"Velocity", "Y"}), &SST_PRD_2_record::vy},
    {l15({"Velocity", "Z"}), &SST_PRD_2_record::vz},
    {l15({"Clock_Change_Rate"}), &SST_PRD_2_record::clock_change_rate},
}};

constexpr std::array<FieldRoute<SST_PKI_2_record>, 10> kPkiFields =
    orbit_state_routes<SST_PKI_2_record>();
constexpr std::array<FieldRoute<SST_PRD_2_record>, 14> kPrdFields =
    joined(orbit_state_routes<SST_PRD_2_record>(), kVelocityRoutes);

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

// The fields both orbit records have.
template <typename Record>
void reset_epoch_and_position(Record& r)
{
    r.year = r.month = r.day = r.hour = r.minute = r.second = kUnset;
    r.position_factor = 1.0;
    r.x = r.y = r.z = kUnset;
    r.clock = kUnset;
}

// The values both orbit tables begin with: the epoch in GPS-time seconds and
// the positions scaled to metres.
template <typename Record>
Value* put_orbit_values(const Record& r, Value* out)
{
    *out++ = real(gps_seconds(r.year, r.month, r.day, r.hour, r.minute, r.second));
    *out++ = real(r.position_factor * r.x);
    *out++ = real(r.position_factor * r.y);
    *out++ = real(r.position_factor * r.z);
    *out++ = real(r.clock);
    return out;
}

// "%20.9f   %15.6f %15.6f %15.6f %15.6f"
constexpr std::array<Column, 5> kOrbitColumns = {{
    column("gps_time", "s", ValueType::kDouble, "%20.9f", 0),
    column("X", "m", ValueType::kDouble, "%15.6f", 3),
    column("Y", "m", ValueType::kDouble, "%15.6f", 1),
    column("Z", "m", ValueType::kDouble, "%15.6f", 1),
    column("clock", "", ValueType::kDouble, "%15.6f", 1),
}};

// The orbit columns, then "   %12.6f %12.6f %12.6f %12.6f".
constexpr std::array<Column, 9> kOrbitWithVelocityColumns = joined(
    kOrbitColumns, std::array<Column, 4>{{
                       column("VX", "m/s", ValueType::kDouble, "%12.6f", 3),
                       column("VY", "m/s", ValueType::kDouble, "%12.6f", 1),
                       column("VZ", "m/s", ValueType::kDouble, "%12.6f", 1),
                       column("clock_change_rate", "", ValueType::kDouble, "%12.6f", 1),
                   }});

void initialize_SST_PKI_2_data(ProductRecords& records)
{
    reset_epoch_and_position(record_in<SST_PKI_2_record>(records));
}

void initialize_SST_PRD_2_data(ProductRecords& records)
{
    SST_PRD_2_record& r = record_in<SST_PRD_2_record>(records);
    reset_epoch_and_position(r);
    r.velocity_factor = 1.0;
    r.vx = r.vy = r.vz = kUnset;
    r.clock_change_rate = kUnset;
}

void PutToStruct_SST_PKI_2_Position_Factor(ProductRecords& records, double factor)
{
    record_in<SST_PKI_2_record>(records).position_factor = factor;
}

void PutToStruct_SST_PRD_2_Position_Factor(ProductRecords& records, double factor)
{
    record_in<SST_PRD_2_record>(records).position_factor = factor;
}

void PutToStruct_SST_PRD_2_Velocity_Factor(ProductRecords& records, double factor)
{
    record_in<SST_PRD_2_record>(records).velocity_factor = factor;
}

void GetFromStruct_SST_PKI_2_Values(const ProductRecords& records, Value* out)
{
    put_orbit_values(record_in<SST_PKI_2_record>(records), out);
}

void GetFromStruct_SST_PRD_2_Values(const ProductRecords& records, Value* out)
{
    const SST_PRD_2_record& r = record_in<SST_PRD_2_record>(records);
    out = put_orbit_values(r, out);
    *out++ = real(r.velocity_factor * r.vx);
    *out++ = real(r.velocity_factor * r.vy);
    *out++ = real(r.velocity_factor * r.vz);
    *out = real(r.clock_change_rate);
}

constexpr AttributeRoute kPkiAttributes[] = {
    {unit_element("SST_PKI_2", "Position"), {"unit", nullptr},
     [](ProductRecords& records, const TagPath&, const char* const* values) {
         if (is_unit(values, "km"))
             PutToStruct_SST_PKI_2_Position_Factor(records, 1000.0);
     }},
};

constexpr AttributeRoute kPrdAttributes[] = {
    {unit_element("SST_PRD_2", "Position"), {"unit", nullptr},
     [](ProductRecords& records, const TagPath&, const char* const* values) {
         if (is_unit(values, "km"))
             PutToStruct_SST_PRD_2_Position_Factor(records, 1000.0);
     }},
    {unit_element("SST_PRD_2", "Velocity"), {"unit", nullptr},
     [](ProductRecords& records, const TagPath&, const char* const* values) {
         if (is_unit(values, "dm/s"))
             PutToStruct_SST_PRD_2_Velocity_Factor(records, 0.1);
     }},
};

void PutToStruct_SST_PKI_2(ProductRecords& records, const TagPath& tags, const char* text,
                           RecordOutput&);
void PutToStruct_SST_PRD_2(ProductRecords& records, const TagPath& tags, const char* text,
                           RecordOutput&);

constexpr ProductDescription kSST_PKI_2_description = {
    2, "SST_PKI_2", kSST_PKI_2, "ascii",
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PKI_2"})),
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PKI_2", "List_of_SP3c_Records"})),
    tag_path({"Data_Block", "SST_PSO_2", "SST_PKI_2", "List_of_SP3c_Records", "SP3c_Record"}),
    kPkiAttributes, 1,
    fewest_open_elements(kPkiFields),
    kOrbitColumns.data(), kOrbitColumns.size(),
    initialize_SST_PKI_2_data, PutToStruct_SST_PKI_2, GetFromStruct_SST_PKI_2_Values,
};

constexpr ProductDescription kSST_PRD_2_description = {
    3, "SST_PRD_2", kSST_PRD_2, "ascii",
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PRD_2"})),
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PRD_2", "List_of_SP3c_Records"})),
    tag_path({"Data_Block", "SST_PSO_2", "SST_PRD_2", "List_of_SP3c_Records", "SP3c_Record"}),
    kPrdAttributes, 2,
    fewest_open_elements(kPrdFields),
    kOrbitWithVelocityColumns.data(), kOrbitWithVelocityColumns.size(),
    initialize_SST_PRD_2_data, PutToStruct_SST_PRD_2, GetFromStruct_SST_PRD_2_Values,
};

void PutToStruct_SST_PKI_2(ProductRecords& records, const TagPath& tags, const char* text,
                           RecordOutput&)
{
    if (tag_path_shows(tags, kSST_PKI_2_description.record))
        store_routed(kPkiFields, record_in<SST_PKI_2_record>(records), tags, text);
}

void PutToStruct_SST_PRD_2(ProductRecords& records, const TagPath& tags, const char* text,
                           RecordOutput&)
{
    if (tag_path_shows(tags, kSST_PRD_2_description.record))
        store_routed(kPrdFields, record_in<SST_PRD_2_record>(records), tags, text);
}

// ===========================================================================
// SST_PRM_2: rotations

struct SST_PRM_2_record {
    double time;  // since the header's epoch reference
    double q1, q2, q3, q4;
};

// The time since the header's epoch reference, and the quaternion, which
// may also stand under Time_Information.
constexpr std::array<FieldRoute<SST_PRM_2_record>, 9> kPrmFields = {{
    {path_from(5, {"Time_Information", "Time_Since_Reference_Epoch"}), &SST_PRM_2_record::time},
    {path_from(5, {"Quaternions", "Q1"}), &SST_PRM_2_record::q1},
    {path_from(5, {"Time_Information", "Q1"}), &SST_PRM_2_record::q1},
    {path_from(5, {"Quaternions", "Q2"}), &SST_PRM_2_record::q2},
    {path_from(5, {"Time_Information", "Q2"}), &SST_PRM_2_record::q2},
    {path_from(5, {"Quaternions", "Q3"}), &SST_PRM_2_record::q3},
    {path_from(5, {"Time_Information", "Q3"}), &SST_PRM_2_record::q3},
    {path_from(5, {"Quaternions", "Q4"}), &SST_PRM_2_record::q4},
    {path_from(5, {"Time_Information", "Q4"}), &SST_PRM_2_record::q4},
}};

// "%20.9f   %2.16f %2.15f %2.16f %2.16f"
constexpr Column kRotationColumns[] = {
    column("gps_time", "s", ValueType::kDouble, "%20.9f", 0),
    column("Q1", "", ValueType::kDouble, "%2.16f", 3),
    column("Q2", "", ValueType::kDouble, "%2.15f", 1),
    column("Q3", "", ValueType::kDouble, "%2.16f", 1),
    column("Q4", "", ValueType::kDouble, "%2.16f", 1),
};

void initialize_SST_PRM_2_data(ProductRecords& records)
{
    SST_PRM_2_record& r = record_in<SST_PRM_2_record>(records);
    r.time = r.q1 = r.q2 = r.q3 = r.q4 = kUnset;
}

void PutToStruct_SST_PRM_2(ProductRecords& records, const TagPath& tags, const char* text,
                           RecordOutput&);

// The time in GPS-time seconds: the header's epoch reference added.
void GetFromStruct_SST_PRM_2_Values(const ProductRecords& records, Value* out)
{
    const SST_PRM_2_record& r = record_in<SST_PRM_2_record>(records);
    out[0] = real(r.time + epoch_reference(records));
    out[1] = real(r.q1);
    out[2] = real(r.q2);
    out[3] = real(r.q3);
    out[4] = real(r.q4);
}

constexpr ProductDescription kSST_PRM_2_description = {
    4, "SST_PRM_2", kSST_PRM_2, "ascii",
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PRM_2"})),
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PRM_2", "List_of_Rotation_Records"})),
    tag_path({"Data_Block", "SST_PSO_2", "SST_PRM_2", "List_of_Rotation_Records", "Rotation_Record"}),
    nullptr, 0,
    fewest_open_elements(kPrmFields),
    kRotationColumns, 5,
    initialize_SST_PRM_2_data, PutToStruct_SST_PRM_2, GetFromStruct_SST_PRM_2_Values,
};

void PutToStruct_SST_PRM_2(ProductRecords& records, const TagPath& tags, const char* text,
                           RecordOutput&)
{
    if (tag_path_shows(tags, kSST_PRM_2_description.record))
        store_routed(kPrmFields, record_in<SST_PRM_2_record>(records), tags, text);
}

// ===========================================================================
// SST_PRP_2: embedded documents

struct SST_PRP_2_record {
    int32_t encoding;  // 1: the document's text is base64
    // A document's text may come in parts: what is decoded so far.
    bool in_text;              // a part of the text has come
    Base64Decoder decoder;
    unsigned char held[3];     // the last group's bytes decoded so far
    std::size_t held_count;
};

constexpr CodePath kDocumentRecord =
    tag_path({"Data_Block", "SST_PSO_2", "SST_PRP_2", "List_of_PDF_Files", "PDF_File"});

void initialize_SST_PRP_2_data(ProductRecords& records)
{
    SST_PRP_2_record& record = record_in<SST_PRP_2_record>(records);
    record.encoding = 0;
    record.in_text = false;
}

void PutToStruct_SST_PRP_2_Encoding(ProductRecords& records, int32_t encoding)
{
    record_in<SST_PRP_2_record>(records).encoding = encoding;
}

int32_t GetFromStruct_SST_PRP_2_Encoding(const ProductRecords& records)
{
    return record_in<SST_PRP_2_record>(records).encoding;
}

void PutToStruct_SST_PRP_2(ProductRecords& records, const TagPath& tags, const char* encoding)
{
    if (!tag_path_shows(tags, nothing_below(kDocumentRecord)))
        return;
    const bool base64 = encoding != nullptr && std::strcmp(encoding, "Base64") == 0;
    PutToStruct_SST_PRP_2_Encoding(records, base64 ? 1 : 0);
}

// Writes a document's text, or the part of it that has come (`last`: the
// text has ended).
void OutputToFile_SST_PRP_2_Document(ProductRecords& records, RecordOutput& out, const char* text,
                                     std::size_t length, bool last)
{
    SST_PRP_2_record& record = record_in<SST_PRP_2_record>(records);
    const bool first = !record.in_text;
    if (first) {
        record.in_text = true;
        record.decoder = Base64Decoder();
        record.held_count = 0;
    }
    if (GetFromStruct_SST_PRP_2_Encoding(records) == 1) {
        // Decoded a piece at a time, whatever the document's size.  Only the
        // document's own bytes go out: not the zero bytes that stand for the
        // pad characters of the last complete group, so the last three bytes
        // decoded (that group's) wait until the text has ended.
        constexpr std::size_t kPiece = std::size_t{1} << 16;  // characters
        constexpr std::size_t kHeld = sizeof record.held;     // one group's bytes
        const std::size_t piece = std::min(length, kPiece);
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[kHeld + 3 * (piece / 4 + 1)]);
        std::size_t held = record.held_count;
        std::memcpy(buffer.get(), record.held, held);
        for (std::size_t at = 0; at < length; at += piece) {
            const std::size_t n = std::min(piece, length - at);
            const std::size_t total = held + record.decoder.decode(text + at, n, buffer.get() + held);
            held = std::min(total, kHeld);
            out.document_bytes(reinterpret_cast<const char*>(buffer.get()), total - held);
            std::memmove(buffer.get(), buffer.get() + total - held, held);
        }
        std::memcpy(record.held, buffer.get(), held);
        record.held_count = held;
        if (last) {
            // A group of four "=" (or "x===") still yields only its own three
            // bytes; nothing before it is a pad.
            const std::size_t pads =
                std::min(static_cast<std::size_t>(record.decoder.last_group_pads()), kHeld);
            if (held > pads)
                out.document_bytes(reinterpret_cast<const char*>(buffer.get()), held - pads);
        }
    } else {
        if (first)
            out.report(MessageKind::kWarning, "no encoding!\n");
        out.document_bytes(text, length);
    }
    if (last) {
        record.in_text = false;
        PutToStruct_SST_PRP_2_Encoding(records, 0);
    }
}

void PutToStruct_SST_PRP_2_Text(ProductRecords& records, const TagPath& tags, const char* text,
                                RecordOutput& output)
{
    // Without an output the document's text is dropped.
    if (tag_path_shows(tags, kDocumentRecord) && output.takes_documents())
        OutputToFile_SST_PRP_2_Document(records, output, text, std::strlen(text), true);
}

void PutToStruct_SST_PRP_2_TextPart(ProductRecords& records, const TagPath& tags,
                                    const char* part, std::size_t length, bool last,
                                    RecordOutput& output)
{
    if (tag_path_shows(tags, kDocumentRecord) && output.takes_documents())
        OutputToFile_SST_PRP_2_Document(records, output, part, length, last);
}

constexpr AttributeRoute kDocumentAttributes[] = {
    {nothing_below(kDocumentRecord), {"encoding", nullptr},
     [](ProductRecords& records, const TagPath& tags, const char* const* values) {
         PutToStruct_SST_PRP_2(records, tags, values[0]);
     }},
};

constexpr ProductDescription kSST_PRP_2_description = {
    5, "SST_PRP_2", kSST_PRP_2, "pdf",
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PRP_2"})),
    // Documents are written as their text comes, not when a record ends.
    nothing_below(tag_path({"Data_Block", "SST_PSO_2", "SST_PRP_2", "List_of_PDF_Files"})),
    kDocumentRecord,
    kDocumentAttributes, 1,
    0,
    nullptr, 0,
    initialize_SST_PRP_2_data, PutToStruct_SST_PRP_2_Text, nullptr,
    PutToStruct_SST_PRP_2_TextPart,
};

// ===========================================================================
// Header epoch record

struct HDR_SST_PRM_2_record {
    double Epoch_Information;  // GPS-time seconds; 0.0 when none was read
};

void HDR_initialize_SST_PRM_2_data(ProductRecords& records)
{
    record_in<HDR_SST_PRM_2_record>(records).Epoch_Information = 0.0;
}

}  // namespace

void HDR_PutToStruct_SST_PRM_2(ProductRecords& records, int flags, const char* text,
                               RecordOutput& output)
{
    if (flags != kAllHeaderElements)
        return;
    double year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const int found = std::sscanf(text, "%lf-%lf-%lf %lf:%lf:%lf GPS", &year, &month, &day,
                                  &hour, &minute, &second);
    if (found != 6) {
        output.report(MessageKind::kBadEpoch,
                      format_line("TAIHEN: bad epoch reference: %s\n", text));
        return;
    }
    double& epoch = record_in<HDR_SST_PRM_2_record>(records).Epoch_Information;
    epoch = gps_seconds(year, month, day, hour, minute, second);
    output.report(MessageKind::kInformation,
                  format_line("found epoch reference: %4.0f %2.0f %2.0f %2.0f %2.0f %2.0f "
                              "(in GPS-time: %f)\n",
                              year, month, day, hour, minute, second, epoch));
}

// ===========================================================================
// All products

struct ProductRecords {
    std::tuple<EGG_NOM_2_record, SST_PCV_2_record, SST_PKI_2_record, SST_PRD_2_record,
               SST_PRM_2_record, SST_PRP_2_record, HDR_SST_PRM_2_record>
        records{};
};

namespace {

template <typename Record>
Record& record_in(ProductRecords& records)
{
    return std::get<Record>(records.records);
}

double epoch_reference(const ProductRecords& records)
{
    return record_in<HDR_SST_PRM_2_record>(records).Epoch_Information;
}

constexpr const ProductDescription* kAllProducts[] = {
    &kEGG_NOM_2_description, &kSST_PCV_2_description, &kSST_PKI_2_description,
    &kSST_PRD_2_description, &kSST_PRM_2_description, &kSST_PRP_2_description,
};

constexpr bool indices_are_places()
{
    for (std::size_t i = 0; i < std::size(kAllProducts); ++i)
        if (kAllProducts[i]->index != i)
            return false;
    return true;
}
static_assert(indices_are_places(), "each description's index is its place in the list");

}  // namespace

const ProductList kProductDescriptions = {kAllProducts, std::size(kAllProducts)};

const ProductDescription* find_product(const std::string& name)
{
    for (const ProductDescription* p : kProductDescriptions)
        if (name == p->name)
            return p;
    return nullptr;
}

std::size_t most_columns()
{
    std::size_t most = 0;
    for (const ProductDescription* p : kProductDescriptions)
        most = std::max(most, p->column_count);
    return most;
}

void ProductRecordsFree::operator()(ProductRecords* records) const
{
    delete records;
}

ProductRecordsPtr make_product_records()
{
    ProductRecordsPtr records(new ProductRecords);
    start_input(*records);
    return records;
}

void start_input(ProductRecords& records)
{
    for (const ProductDescription* p : kProductDescriptions)
        p->initialize(records);
    HDR_initialize_SST_PRM_2_data(records);
}
