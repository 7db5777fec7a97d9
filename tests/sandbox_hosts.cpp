// Linked into every test executable: a test that gives no hosts path of its own, and every
// copy of the program it starts, finds a scratch file of this process instead of the
// machine's /etc/hosts.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

class SandboxHosts {
public:
    SandboxHosts()
    {
        // A test that names one itself (or the parent test of a child process) decides.
        if (std::getenv("BRAMBLET_HOSTS_FILE"))
            return;
        std::error_code ec;
        std::string folder = (std::filesystem::temp_directory_path(ec) / "bramblet-test-hosts-XXXXXX").string();
        if (ec || !::mkdtemp(folder.data())) {
            // A path in no folder: a forgotten hosts path then fails loudly.
            std::fprintf(stderr, "no scratch folder for the hosts file; using a path that cannot exist\n");
            ::setenv("BRAMBLET_HOSTS_FILE", "/nonexistent/bramblet-test/hosts", 1);
            return;
        }
        folder_ = folder;
        ::setenv("BRAMBLET_HOSTS_FILE", (folder_ + "/hosts").c_str(), 1);
    }
    ~SandboxHosts()
    {
        if (!folder_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(folder_, ec);
        }
    }
    SandboxHosts(const SandboxHosts &) = delete;
    SandboxHosts &operator=(const SandboxHosts &) = delete;

private:
    std::string folder_;
};

const SandboxHosts sandbox;

} // namespace
