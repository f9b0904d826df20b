#pragma once

// A serial number for a new logical Ogg stream: uniform over
// 0..2147483646, from a generator seeded with the clock at nanosecond
// resolution so that back-to-back starts differ, and never ALast, so two
// chains in a row are told apart.
int NewOggSerial(int ALast);
