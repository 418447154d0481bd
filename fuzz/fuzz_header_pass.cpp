// libFuzzer harness: the input bytes are the header file (--hdr) of a small
// rotation product, so that whatever epoch the header pass reads reaches the
// rotation table.  Each input runs twice; both runs must agree.
#include "fuzz_driver.h"

namespace {

const char kInput[] = "L2FUZZINSST_PSO_2_20091101T000000_FUZZ.xml";
const char kHeader[] = "L2FUZZINSST_PSO_2_20091101T000000_FUZZ.HDR";

const char kProduct[] =
    "<Data_Block><SST_PSO_2><SST_PRM_2><List_of_Rotation_Records>\n"
    "<Rotation_Record><Time_Information>"
    "<Time_Since_Reference_Epoch>1.5</Time_Since_Reference_Epoch></Time_Information>"
    "<Quaternions><Q1>0.5</Q1><Q2>0.5</Q2><Q3>0.5</Q3><Q4>0.5</Q4></Quaternions>"
    "</Rotation_Record>\n"
    "</List_of_Rotation_Records></SST_PRM_2></SST_PSO_2></Data_Block>\n";

// The scratch folder, holding the fixed product the header is paired with.
fuzz::Scratch& scratch()
{
    static fuzz::Scratch s;
    static const bool ready = (fuzz::write_file(s.work + kInput, kProduct), true);
    (void)ready;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Scratch& s = scratch();
    fuzz::write_file(s.work + kHeader, data, size);
    fuzz::run_twice_and_compare({"--if", kInput, "--hdr", kHeader, "--dir", s.work}, s.work,
                                {kInput, kHeader}, s.root + "stdout");
    return 0;
}
