// libFuzzer harness: the input bytes are a product file; the whole program
// converts it in a scratch folder (--dir), twice, and both runs must leave the
// same exit status, standard output and output files.  Outputs are removed
// after each input.
#include "fuzz_driver.h"

namespace {

const char kInput[] = "L2FUZZINSST_PSO_2_20091101T000000_FUZZ.xml";

struct Scratch {
    std::string root = fuzz::make_scratch_dir();
    std::string work = root + "w/";
    ~Scratch() { fuzz::remove_scratch_dir(root); }
    Scratch() { mkdir(work.c_str(), 0755); }
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
    fuzz::write_file(s.work + kInput, data, size);
    fuzz::run_twice_and_compare({"--if", kInput, "--dir", s.work}, s.work, {kInput},
                                s.root + "stdout");
    return 0;
}
