#pragma once
// The Player façade: one loaded movie with its runtime, stage and clock.
// (Being written; see the display runtime.)
