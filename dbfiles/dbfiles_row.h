#pragma once

#include <string>

class IDataSet;

// One row of `files` as list and path resolution hand it out.
struct DbFilesRow {
    unsigned long long id = 0;
    std::string name;
    long long size = 0;
    bool isFolder = false;
    unsigned long long created = 0;
    unsigned long long modified = 0;

    // From the current row of a "SELECT * FROM files"; foreign-folder tables
    // have no is_folder column.
    void Read(IDataSet* dataSet, bool ownFolders);
    void Give(unsigned long long& id, const char*& name, unsigned int& length, bool& isFolder,
              unsigned long long* created, unsigned long long* modified) const;
};
