#include "SoftHsmToken.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace orv { namespace test {

namespace {

std::string quoted(const std::string& s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

} // namespace

std::string SoftHsmToken::prefix() { return ORV_SOFTHSM_PREFIX; }
std::string SoftHsmToken::library() { return prefix() + "/lib/softhsm/libsofthsm2.so"; }
std::string SoftHsmToken::util() { return prefix() + "/bin/softhsm2-util"; }

SoftHsmToken::SoftHsmToken() : standin_(Standin::instance())
{
    if (access(library().c_str(), R_OK) != 0 || access(util().c_str(), X_OK) != 0)
        throw std::runtime_error("SoftHSM is not built in " + prefix() + " (run tools/setup)");

    // SoftHSM reads its configuration in C_Initialize: a module still initialised by an
    // earlier test would keep that test's token.
    standin_.finalizeTarget();
    standin_.reset();

    std::vector<char> pattern(std::begin("/tmp/orvanta-softhsm.XXXXXX"), std::end("/tmp/orvanta-softhsm.XXXXXX"));
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary token folder");
    folder_ = pattern.data();
    std::filesystem::create_directory(folder_ + "/tokens");
    config_ = folder_ + "/softhsm2.conf";
    {
        std::ofstream conf(config_);
        conf << "directories.tokendir = " << folder_ << "/tokens\n"
             << "objectstore.backend = file\n"
             << "log.level = ERROR\n"
             << "slots.removable = false\n";
        if (!conf)
            throw std::runtime_error("cannot write " + config_);
    }

    if (const char* previous = std::getenv("SOFTHSM2_CONF")) {
        hadConfig_ = true;
        previousConfig_ = previous;
    }
    setenv("SOFTHSM2_CONF", config_.c_str(), 1);

    std::string output;
    int status = runUtil(std::string("--init-token --free --label ") + quoted(kLabel) + " --so-pin " +
                             quoted(kSoPin) + " --pin " + quoted(kUserPin),
                         output);
    if (status != 0) {
        std::filesystem::remove_all(folder_);
        throw std::runtime_error("softhsm2-util --init-token failed: " + output);
    }
    standin_.setTarget(library());
}

SoftHsmToken::~SoftHsmToken()
{
    standin_.finalizeTarget();
    if (hadConfig_)
        setenv("SOFTHSM2_CONF", previousConfig_.c_str(), 1);
    else
        unsetenv("SOFTHSM2_CONF");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

int SoftHsmToken::runUtil(const std::string& arguments, std::string& output) const
{
    output.clear();
    std::string command = "SOFTHSM2_CONF=" + quoted(config_) + " " + quoted(util()) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}} // namespace orv::test
