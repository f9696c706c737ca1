#include "codec/p3d_budget.h"

const char* P3DRefusalText(P3DRefusal refusal)
{
    switch (refusal)
    {
    case P3DRefusal::None:
        return "read";
    case P3DRefusal::UnpackedBytes:
        return "its compressed sections unpack to more than 256 MiB";
    case P3DRefusal::Chunks:
        return "it holds more than 262,144 chunks";
    case P3DRefusal::Models:
        return "it holds more than 4,096 models";
    case P3DRefusal::InstanceRecords:
        return "it places more than 65,536 objects";
    case P3DRefusal::TableRows:
        return "a table (models, material sets or light groups) has more than 65,536 rows";
    case P3DRefusal::Lights:
        return "it holds more than 65,536 lights";
    case P3DRefusal::ModelChunks:
        return "it holds more than 65,536 model chunks";
    case P3DRefusal::DecodedVertices:
        return "its models decode to more than 4,194,304 vertices";
    case P3DRefusal::DecodedFaces:
        return "its models decode to more than 4,194,304 faces";
    case P3DRefusal::OutOfMemory:
        return "memory ran out while reading it";
    }
    return "refused";
}
