// libFuzzer harness: the input bytes are a product file; the whole program
// converts it in a scratch folder (--dir), twice, and both runs must leave the
// same exit status, standard output and output files.  Outputs are removed
// after each input.
#include "fuzz_driver.h"

namespace {

const char kInput[] = "L2FUZZINSST_PSO_2_20091101T000000_FUZZ.xml";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Scratch& s = fuzz::plain_scratch();
    fuzz::write_file(s.work + kInput, data, size);
    fuzz::run_twice_and_compare({"--if", kInput, "--dir", s.work}, s.work, {kInput},
                                s.root + "stdout");
    return 0;
}
