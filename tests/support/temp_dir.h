#pragma once
// A fresh folder under the system's temporary folder, removed with the object.

#include <filesystem>
#include <string>
#include <string_view>

namespace tw::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return m_path; }
    std::filesystem::path operator/(std::string_view name) const { return m_path / name; }

  private:
    std::filesystem::path m_path;
};

std::string readFile(const std::filesystem::path &file);
void writeFile(const std::filesystem::path &file, std::string_view bytes);

} // namespace tw::test
