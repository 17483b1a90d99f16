#include "platform/config.h"

#include "platform/xml.h"

#include <QSettings>
#include <QString>

namespace tw {

const std::vector<std::pair<std::string, std::string>> &Config::defaults()
{
    static const std::vector<std::pair<std::string, std::string>> table = {
#define TW_CONFIG_KEY(key, value) {key, value},
#include "config_defaults.inc"
#undef TW_CONFIG_KEY
    };
    return table;
}

Config::Config()
{
    for (const auto &[key, value] : defaults())
        m_values[key] = value;
}

Config Config::fromFile(const std::filesystem::path &file, std::vector<std::string> *warnings)
{
    Config result;
    QSettings ini(QString::fromStdString(file.string()), QSettings::IniFormat);
    if (ini.status() != QSettings::NoError && warnings)
        warnings->push_back("cannot read the configuration file " + file.string());
    for (const QString &key : ini.allKeys()) {
        std::string k = key.toStdString();
        if (!result.has(k)) {
            if (warnings) warnings->push_back("unknown configuration key " + k);
            continue;
        }
        result.m_values[k] = ini.value(key).toString().toStdString();
    }
    return result;
}

std::string Config::get(const std::string &key) const
{
    auto it = m_values.find(key);
    return it == m_values.end() ? std::string() : it->second;
}

void Config::set(const std::string &key, const std::string &value)
{
    m_values[key] = value;
}

std::string Config::toIni() const
{
    // Grouped by section in the order of the defaults table.
    std::string out;
    std::string section;
    for (const auto &[key, unused] : defaults()) {
        (void)unused;
        auto slash = key.find('/');
        std::string s = key.substr(0, slash);
        if (s != section) {
            if (!out.empty()) out += "\n";
            out += "[" + s + "]\n";
            section = s;
        }
        std::string value = get(key);
        bool quote = value.find_first_of(";,=\"#") != std::string::npos || (!value.empty() && value.front() == ' ');
        if (quote) {
            std::string q = "\"";
            for (char c : value) {
                if (c == '"' || c == '\\') q += '\\';
                q += c;
            }
            value = q + "\"";
        }
        out += key.substr(slash + 1) + "=" + value + "\n";
    }
    return out;
}

bool Config::save(const std::filesystem::path &file, std::string *error) const
{
    xml::SaveOptions options;
    options.ownerOnly = !get("paypal/ClientCertificatePassword").empty();
    return xml::writeFileAtomically(file, toIni(), error, options);
}

namespace {
Config &current()
{
    static Config c;
    return c;
}
} // namespace

const Config &config()
{
    return current();
}
void setConfig(const Config &c)
{
    current() = c;
}

} // namespace tw
