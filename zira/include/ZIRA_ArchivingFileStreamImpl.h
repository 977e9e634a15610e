// A file stream whose file name carries a number. Going back to position 0 while the file holds
// data keeps that file and continues in a new, empty one with the next number, so earlier
// output stays on disk (Install.1.mft, Install.2.mft, ...). A file never written is removed
// when the stream goes.
#pragma once
#include <windows.h>

#include <string>

#include "kqFileStream.h"

namespace ZIRA {

class CArchivingFileStreamImpl : public ::CFileStreamImpl
{
public:
    ~CArchivingFileStreamImpl() override;

    // strFormat holds one %d for the number. Takes the first number from 1 whose file does not
    // exist (199 when 1 to 199 are all taken) and creates that file, emptying any it replaces.
    bool SetFileNameFormat(const std::wstring& strFormat);

    // Position 0 on a file that holds data starts the next file; otherwise as the file stream.
    bool SetPosition(ULONGLONG ullPosition) override;

    const std::wstring& GetCurrentFileName() const { return m_strCurrentFileName; }

private:
    bool CreateCurrentFile();

    DWORD m_nFileNumber = 0;
    std::wstring m_strFileNameFormat;
    std::wstring m_strCurrentFileName;
};

// A new stream with one reference, or nullptr when memory runs out.
CArchivingFileStreamImpl* CreateArchivingFileStreamImpl();

}  // namespace ZIRA
