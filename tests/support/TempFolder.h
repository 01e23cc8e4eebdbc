#pragma once
// The one way tests make a folder of their own: a new, empty folder under
// the system's temporary folder, removed with everything in it when the
// object goes (folders a test made read-only included). Servers keep their
// sockets and logs in one, tools their output, tests their files.
// QtTempFolder (QtTempFolder.h) is the same folder with QString paths.

#include <cstdlib>
#include <filesystem>
#include <string>

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "tempovaro-test")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~TempFolder()
    {
        if (m_path.empty())
            return;
        namespace fs = std::filesystem;
        std::error_code ignored;
        // A folder without write permission keeps its files from being removed.
        for (fs::recursive_directory_iterator it(m_path, ignored), end; it != end; it.increment(ignored))
            if (it->is_directory(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool isValid() const { return !m_path.empty(); }
    // Empty when the folder could not be made.
    const std::string& path() const { return m_path; }
    std::string filePath(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};
