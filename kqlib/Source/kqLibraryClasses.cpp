#include "kqLibraryClasses.h"

#include "kqDigestImpl.h"
#include "kqIndexValueCollectionImpl.h"
#include "kqMemoryImpl.h"
#include "kqQelKeyValueCollectionImpl.h"
#include "kqStringImpl.h"

namespace {

const CLibraryClass s_libraryClasses[] = {
    {CIndexValueCollectionImpl::kClassId, CreateIndexValueCollectionImpl},
    {CKeyValueCollectionImpl::kClassId, CreateKeyValueCollectionImpl},
    {CStringImpl::kClassId, CreateStringImpl},
    {CMemoryImpl::kClassId, CreateMemoryImpl},
    // The four digest classes (as literals: the class table is not a constant, and this one
    // must be initialised before any other object of the program runs)
    {{0x4fda34c1, 0x9899, 0x494c, {0xa3, 0x3d, 0x72, 0xba, 0x6b, 0xb0, 0xf4, 0xfd}}, CreateDigest16Impl},
    {{0x4fda34c2, 0x9899, 0x494c, {0xa3, 0x3d, 0x72, 0xba, 0x6b, 0xb0, 0xf4, 0xfd}}, CreateDigest20Impl},
    {{0x4fda34c3, 0x9899, 0x494c, {0xa3, 0x3d, 0x72, 0xba, 0x6b, 0xb0, 0xf4, 0xfd}}, CreateDigest32Impl},
    {{0x4fda34c4, 0x9899, 0x494c, {0xa3, 0x3d, 0x72, 0xba, 0x6b, 0xb0, 0xf4, 0xfd}}, CreateDigest64Impl},
};

}  // namespace

const CLibraryClass* GetLibraryClasses(size_t& cClasses)
{
    cClasses = sizeof(s_libraryClasses) / sizeof(s_libraryClasses[0]);
    return s_libraryClasses;
}
