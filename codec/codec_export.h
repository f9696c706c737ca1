#pragma once
// Classes of the object file codec that other programs use are exported from the shared library;
// everything else stays hidden.
#define FEROLT_CODEC_API __attribute__((visibility("default")))
