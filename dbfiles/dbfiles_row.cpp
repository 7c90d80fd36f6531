#include "dbfiles/dbfiles_row.h"

#include "database/data_set.h"

void DbFilesRow::Read(IDataSet* dataSet, bool ownFolders)
{
    id = dataSet->GetULong64Value("id");
    name = dataSet->GetStringValue("name");
    size = dataSet->GetLong64Value("size");
    isFolder = ownFolders && dataSet->GetBoolValue("is_folder");
    created = dataSet->GetULong64Value("created");
    modified = dataSet->GetULong64Value("modified");
}

void DbFilesRow::Give(unsigned long long& rowId, const char*& rowName, unsigned int& length, bool& rowIsFolder,
                      unsigned long long* rowCreated, unsigned long long* rowModified) const
{
    rowId = id;
    rowName = name.c_str();
    length = (unsigned int)size;
    rowIsFolder = isFolder;
    if (rowCreated) *rowCreated = created;
    if (rowModified) *rowModified = modified;
}
