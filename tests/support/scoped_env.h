// Sets or unsets environment variables for one scope and puts back what was
// there before. Setting TZ also re-reads the time zone.
#ifndef CRAWLPEEK_TESTS_SUPPORT_SCOPED_ENV_H_
#define CRAWLPEEK_TESTS_SUPPORT_SCOPED_ENV_H_

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

class ScopedEnv {
  public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) apply(it->name, it->value);
    }

    // value nullopt unsets the variable.
    void set(const std::string &name, std::optional<std::string> value) {
        const char *old = std::getenv(name.c_str());
        saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
        apply(name, value);
    }

  private:
    struct Saved {
        std::string name;
        std::optional<std::string> value;
    };

    static void apply(const std::string &name, const std::optional<std::string> &value) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
        if (name == "TZ") tzset();
    }

    std::vector<Saved> saved_;
};

#endif  // CRAWLPEEK_TESTS_SUPPORT_SCOPED_ENV_H_
