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

struct Scratch {
    std::string root = fuzz::make_scratch_dir();
    std::string work = root + "w/";
    ~Scratch() { fuzz::remove_scratch_dir(root); }
    Scratch()
    {
        mkdir(work.c_str(), 0755);
        fuzz::write_file(work + kInput, kProduct);
    }
};

Scratch& scratch()
{
    static Scratch s;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Scratch& s = scratch();
    fuzz::write_file(s.work + kHeader, data, size);
    fuzz::run_twice_and_compare({"--if", kInput, "--hdr", kHeader, "--dir", s.work}, s.work,
                                {kInput, kHeader}, s.root + "stdout");
    return 0;
}
