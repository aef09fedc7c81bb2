// A fresh temporary folder for one test, removed with everything in it when
// the test ends.
#ifndef FFC_TEST_TEMP_FOLDER_H
#define FFC_TEST_TEMP_FOLDER_H

#include <string>

namespace ffc::testing {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder path, ending with a separator, ready to be an image folder.
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace ffc::testing

#endif  // FFC_TEST_TEMP_FOLDER_H
