#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/dsp/ProbeWorker.h"

// The window hands new gains over while the worker processes blocks; the
// block after the hand-over must use them.
TEST(AudioProcessingUpdate, GainsFromAnotherThreadTakeEffectOnTheNextBlock)
{
    TEncoderConfig flat = ProcessingConfig(44100, false);
    TEncoderConfig boosted = flat;
    boosted.EQBands[5] = 12;
    boosted.CompressorEnabled = true;

    TProbeWorker worker(flat);
    TProbeWorker reference(flat);
    const std::vector<float> block = Sine(1000, 44100, 2048, 2, 0.9);

    std::atomic<bool> done{false};
    std::thread window([&] {
        for (int i = 0; !done.load(); ++i)
            worker.UpdateAudioProcessing(i % 2 ? boosted : flat);
    });
    for (int i = 0; i < 50; ++i)
        worker.Process(block, 2);
    done = true;
    window.join();

    // Bring both to the same state, then change the gains from a thread.
    worker.UpdateAudioProcessing(flat);
    for (TProbeWorker* w : {&worker, &reference}) {
        w->FEQLP_L.fill(0.0f);
        w->FEQLP_R.fill(0.0f);
        w->FCompGain = 1.0f;
    }
    const std::vector<float> before = worker.Process(block, 2);
    EXPECT_EQ(before, reference.Process(block, 2));
    std::thread([&] { worker.UpdateAudioProcessing(boosted); }).join();
    reference.UpdateAudioProcessing(boosted);
    const std::vector<float> after = worker.Process(block, 2);
    EXPECT_EQ(after, reference.Process(block, 2));
    TProbeWorker stayedFlat(flat);
    stayedFlat.Process(block, 2);
    EXPECT_NE(after, stayedFlat.Process(block, 2)) << "the new gains did change the sound";
    EXPECT_EQ(worker.Levels.size(), 52u);
}
