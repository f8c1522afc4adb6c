// Plays the blocks the game's mixer renders on the page, in order; silence when none is there.
// Tells the page how many frames it took, so that the page keeps a small lead of blocks here,
// how many it had to play as silence for want of a block, and when marked frames (a voice's
// first frame) reach the output.
class VesquinOutput extends AudioWorkletProcessor {
  constructor() {
    super();
    this.blocks = [];      // {samples: Float32Array interleaved stereo, start: frame index}
    this.offset = 0;       // frames of the first block already played
    this.marks = [];       // frame indices to report when they are played
    this.capture = null;   // frames kept for a test: Float32Array interleaved, and its fill
    this.captured = 0;
    this.underruns = 0;    // frames of silence because no block had come
    this.starved = 0;      // of them, not yet told to the page
    this.started = false;
    this.port.onmessage = (event) => {
      const m = event.data;
      if (m.samples) {
        this.started = true;
        this.blocks.push({samples: m.samples, start: m.start});
        for (const mark of m.marks) this.marks.push(mark);
      } else if (m.capture) {
        this.capture = new Float32Array(m.capture * 2);
        this.captured = 0;
      } else if (m.takeCapture) {
        const kept = this.capture ? this.capture.subarray(0, this.captured * 2) : new Float32Array(0);
        this.port.postMessage({capture: kept, underruns: this.underruns});
        this.capture = null;
      }
    };
  }

  process(inputs, outputs) {
    const left = outputs[0][0];
    const right = outputs[0][1] || outputs[0][0];
    let taken = 0;
    const lacking = [];
    for (let i = 0; i < left.length; ++i) {
      const block = this.blocks[0];
      if (!block) {
        left[i] = 0;
        right[i] = 0;
        if (this.started) {
          ++this.underruns;
          ++this.starved;
          lacking.push(i);
        }
        continue;
      }
      left[i] = block.samples[2 * this.offset];
      right[i] = block.samples[2 * this.offset + 1];
      const frame = block.start + this.offset;
      // Voices that start together share one mark.
      if (this.marks.length > 0 && this.marks[0] <= frame) {
        while (this.marks.length > 0 && this.marks[0] <= frame) this.marks.shift();
        this.port.postMessage({mark: frame, time: currentTime + i / sampleRate});
      }
      ++taken;
      if (++this.offset * 2 >= block.samples.length) {
        this.blocks.shift();
        this.offset = 0;
      }
    }
    if (this.capture) {
      // Frames played as silence for want of a block are kept as NaN: they are not the mixer's.
      let next = 0;
      for (let i = 0; i < left.length && this.captured * 2 < this.capture.length; ++i, ++this.captured) {
        const lacked = next < lacking.length && lacking[next] === i;
        if (lacked) ++next;
        this.capture[2 * this.captured] = lacked ? NaN : left[i];
        this.capture[2 * this.captured + 1] = lacked ? NaN : right[i];
      }
    }
    if (taken > 0 || this.starved > 0) {
      this.port.postMessage({consumed: taken, starved: this.starved});
      this.starved = 0;
    }
    return true;
  }
}

registerProcessor('vesquin-output', VesquinOutput);
