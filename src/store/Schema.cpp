#include "Schema.h"

#include "Data.h"
#include "DataSaver.h"

Type* Schema::Declare(const char* name, Primacy primacy, Values values, Creation creation)
{
    return d.NewType(name, primacy, values == Valueless, creation == OnLookUp);
}

void Schema::Relate(const char* a, const char* b, OneOrMany aHolds, OneOrMany bHolds)
{
    d.GetType(a)->RelateToType(d.GetType(b), bHolds, aHolds, false);
}

void Schema::Own(const char* owner, const char* owned, OneOrMany ownerHolds)
{
    d.GetType(owner)->RelateToType(d.GetType(owned), one, ownerHolds, true);
}

void Schema::Save(const char* type)
{
    if (dataSaver)
        dataSaver->AddSavedType(type);
}

void Schema::SaveWith(const char* type, const char* byType)
{
    if (dataSaver)
        dataSaver->AddSavedByConnectionType(type, byType);
}
