// libFuzzer harness: the input bytes, cut at NUL and newline bytes, are the
// argument words of one run.  The run happens with a scratch folder as the
// current directory, which holds a small product and a header the words can
// name.  Inputs whose words could reach outside the scratch folder (absolute
// paths, "..") are passed over, so that no run writes anywhere else.
#include "fuzz_driver.h"

namespace {

constexpr size_t kMaxWords = 32;

const char kProductName[] = "L2FUZZINSST_PSO_2_20091101T000000_CMDL.xml";
const char kHeaderName[] = "H.HDR";

const char kProduct[] =
    "<Data_Block><SST_PSO_2><SST_PCV_2><List_of_Covariance_Records>\n"
    "<Covariance_Record row=\"1\" column=\"2\">3.5</Covariance_Record>\n"
    "</List_of_Covariance_Records></SST_PCV_2></SST_PSO_2></Data_Block>\n";

const char kHeader[] =
    "<Earth_Explorer_Header><Variable_Header><SPH><SST_PSO_2><SST_PRM_2>"
    "<Epoch_Information><Reference>2009-11-01 00:00:00 GPS</Reference>"
    "</Epoch_Information></SST_PRM_2></SST_PSO_2></SPH></Variable_Header>"
    "</Earth_Explorer_Header>\n";

// The scratch folder with a product and a header, and the product again in
// sub/ for working directories given by the input.
fuzz::Scratch& scratch()
{
    static fuzz::Scratch s;
    static const bool ready = [] {
        mkdir((s.work + "sub").c_str(), 0755);
        fuzz::write_file(s.work + kProductName, kProduct);
        fuzz::write_file(s.work + "sub/" + kProductName, kProduct);
        fuzz::write_file(s.work + kHeaderName, kHeader);
        return true;
    }();
    (void)ready;
    return s;
}

// Runs with the scratch folder as the current directory and goes back to
// where libFuzzer reads its corpus from afterwards.
class InFolder {
public:
    explicit InFolder(const std::string& dir)
    {
        if (getcwd(back_, sizeof back_) == nullptr || chdir(dir.c_str()) != 0)
            fuzz::fail("cannot enter", dir);
    }
    ~InFolder()
    {
        if (chdir(back_) != 0)
            fuzz::fail("cannot go back to", back_);
    }

private:
    char back_[4096];
};

// A word that could name something outside the current folder: an absolute
// path, "..", or a short option cluster or "=" whose value is absolute.
bool leaves_scratch(const std::string& word)
{
    if (word.empty())
        return false;
    if (word[0] == '/' || word.find("..") != std::string::npos ||
        word.find("=/") != std::string::npos)
        return true;
    return word[0] == '-' && word.find('/') != std::string::npos &&
           word.find_first_not_of("-id") == word.find('/');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Scratch& s = scratch();
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\0' || data[i] == '\n') {
            if (words.size() == kMaxWords)
                return 0;
            words.emplace_back();
        } else {
            words.back() += static_cast<char>(data[i]);
        }
    }
    for (const std::string& w : words)
        if (leaves_scratch(w))
            return 0;
    // Anything the run makes goes into the scratch folder or sub/; both are
    // emptied of it afterwards.
    {
        InFolder in(s.work);
        fuzz::run_driver(words, s.work, {kProductName, kHeaderName, "sub"}, s.root + "stdout");
    }
    fuzz::clean_dir(s.work + "sub/", {kProductName});
    return 0;
}
