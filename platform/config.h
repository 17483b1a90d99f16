#pragma once
// Program constants: eBay ids, outside addresses, the pages' server. Each key
// ("section/Key", listed in the README) has a build-time default and can be
// overridden by an INI file named by --config or TIDEWELL_CONFIG.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tw {

class Config {
  public:
    // The build-time defaults only.
    Config();

    // Defaults overridden by the INI file `file`. Unknown keys in the file
    // are reported in `warnings` and ignored.
    static Config fromFile(const std::filesystem::path &file, std::vector<std::string> *warnings = nullptr);

    // The value of a key; "" for a key that does not exist.
    std::string get(const std::string &key) const;
    void set(const std::string &key, const std::string &value);
    bool has(const std::string &key) const { return m_values.count(key) != 0; }

    // Every key, in a stable order, with its build-time default.
    static const std::vector<std::pair<std::string, std::string>> &defaults();

    // The INI text of this configuration (what the sandbox writes).
    std::string toIni() const;
    // Writes toIni() to `file` atomically. A file that holds the PayPal
    // certificate's password is left readable by its owner only, whatever
    // mode it had; otherwise the file keeps its mode.
    bool save(const std::filesystem::path &file, std::string *error = nullptr) const;

  private:
    std::map<std::string, std::string> m_values;
};

// The configuration in force for the run (set once at start-up; tests set
// their own).
const Config &config();
void setConfig(const Config &c);

} // namespace tw
