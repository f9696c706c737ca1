#include "engine/scene/geometry_block_batch.h"

#include "platform/d3d9/workers.h"

#include <algorithm>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

namespace LMK
{
namespace
{
// One mesh decoded on its own, its attribute ids from 0.
struct MeshJob
{
    size_t block;
    ferolt::ByteReader bytes;
    DecodedMeshStruct_TYP mesh;
    std::vector<IndexTripleStruct_TYP> triples;
    bool decoded = false;
    bool outOfMemory = false;
};

void Decode(DWORD maxVersion, MeshJob& job)
{
    // Thrown on a worker it would end the program: it is carried back to the calling thread.
    try
    {
        DWORD attributes = 0;
        job.decoded = DecodeCompressedMesh(maxVersion, job.bytes.All().data(), job.bytes.Size(), &job.mesh,
                                           &attributes, &job.triples, nullptr);
    }
    catch (const std::bad_alloc&)
    {
        job.outOfMemory = true;
    }
}

std::unique_ptr<ferolt::d3d9::WorkerPool> MakePool(unsigned threads)
{
    try
    {
        return std::make_unique<ferolt::d3d9::WorkerPool>(threads);
    }
    catch (const std::system_error&)
    {
        return nullptr; // without threads the meshes are decoded here, as they would be anyway
    }
}
} // namespace

// Meshes are taken a round at a time, a few from every block still going, and kept in order up to the
// first that fails: a failing mesh ends its block's list as it does in one decode, and costs no more
// than the round's other meshes of that block.
void DecodeMeshLists(DWORD maxVersion, std::span<const GeometryBlockViewStruct_TYP> blocks,
                     std::span<DecodedBlockStruct_TYP> out, unsigned threads)
{
    if (threads == 0) threads = 1;
    const size_t count = std::min(blocks.size(), out.size());
    std::vector<MeshListReader> readers(count);
    // A block is read while it has meshes and none has failed.
    std::vector<char> reading(count);
    for (size_t b = 0; b < count; ++b)
    {
        out[b].result = readers[b].Open(blocks[b].data, blocks[b].size, &out[b].list);
        reading[b] = SUCCEEDED(out[b].result);
    }
    // One a round on one thread, so that nothing past a failing mesh is decoded.
    const size_t perRound = threads == 1 ? 1 : size_t{2} * threads;
    std::unique_ptr<ferolt::d3d9::WorkerPool> pool;
    std::vector<MeshJob> jobs;
    for (;;)
    {
        jobs.clear();
        for (size_t b = 0; b < count; ++b)
        {
            ferolt::ByteReader bytes;
            for (size_t taken = 0; reading[b] && taken < perRound; ++taken)
                if (readers[b].NextMesh(&bytes))
                    jobs.push_back({b, bytes, {}, {}, false, false});
                else
                    reading[b] = 0;
        }
        if (jobs.empty()) return;
        if (!pool && threads > 1 && jobs.size() > 1) pool = MakePool(threads);
        if (pool)
            pool->Run(jobs.size(), [&](size_t i) { Decode(maxVersion, jobs[i]); });
        else
            for (MeshJob& job : jobs)
                Decode(maxVersion, job);
        for (const MeshJob& job : jobs)
            if (job.outOfMemory) throw std::bad_alloc();
        // A block's meshes after one that failed are dropped, and the block is read no further.
        size_t failedBlock = count;
        for (MeshJob& job : jobs)
        {
            if (job.block == failedBlock) continue;
            if (!job.decoded)
            {
                failedBlock = job.block;
                reading[job.block] = 0;
                continue;
            }
            AppendDecodedMesh(&out[job.block].list, std::move(job.mesh), job.triples);
        }
    }
}
} // namespace LMK
