// Sets or unsets environment variables for one scope and puts back what was
// there before. Setting TZ also re-reads the time zone.
#ifndef CRAWLPEEK_TESTS_SUPPORT_SCOPED_ENV_H_
#define CRAWLPEEK_TESTS_SUPPORT_SCOPED_ENV_H_

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class ScopedEnv {
  public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) apply(it->first, it->second);
    }

    // value nullopt unsets the variable.
    void set(const std::string &name, std::optional<std::string> value) {
        const char *old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        apply(name, value);
    }

  private:
    static void apply(const std::string &name, const std::optional<std::string> &value) {
        value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        if (name == "TZ") tzset();
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;  // in order set
};

#endif  // CRAWLPEEK_TESTS_SUPPORT_SCOPED_ENV_H_
