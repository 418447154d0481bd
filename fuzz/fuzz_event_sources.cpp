// libFuzzer harness: the input bytes are a product file, converted once with
// the streaming reader and once with the push parser (which hands over to
// the reader whatever it does not handle as the reader would); the two must
// give the same values, documents, lines and failures.
#include "fuzz_driver.h"
#include "source_comparison.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Scratch& s = fuzz::plain_scratch();
    const std::string input = s.work + "L2FUZZINSST_PSO_2_20091101T000000_FUZZ.xml";
    fuzz::write_file(input, data, size);
    const l2test::Compared c = l2test::compare_sources(input);
    if (!c.same)
        fuzz::fail("the two event sources differ:",
                   "\n--- reader\n" + c.reader.substr(0, 4000) + "\n--- push\n" + c.push.substr(0, 4000));
    return 0;
}
