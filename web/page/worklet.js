// The sound output: renders the game's mixer on the audio thread, one render quantum at a
// time, through a second instance of the game's module on the page's shared memory. No block
// waits here ahead of the output, so a key's answer is in the very next quantum after the
// game has handled the key. Tells the page when voices' first frames (marks) are rendered,
// and keeps frames for a test when asked.
class VesquinOutput extends AudioWorkletProcessor {
  constructor() {
    super();
    this.render = null;    // the renderer's calls, once connected
    this.capture = null;   // frames kept for a test: Float32Array interleaved, and its fill
    this.captured = 0;
    this.captureFrom = null;
    this.rendered = false; // a render has run: told to the page once
    this.port.onmessage = (event) => {
      const m = event.data;
      if (m.wasm) {
        this.connect(m).then(() => this.port.postMessage({connected: true}),
                             (e) => this.port.postMessage({failed: String((e && e.message) || e)}));
      } else if (m.capture) {
        this.capture = new Float32Array(m.capture * 2);
        this.captured = 0;
        this.captureFrom = null;
      } else if (m.takeCapture) {
        const kept = this.capture ? this.capture.subarray(0, this.captured * 2) : new Float32Array(0);
        this.port.postMessage({capture: kept, from: this.captureFrom});
        this.capture = null;
      }
    };
  }

  // The module's imports are the page's JavaScript, which the renderer never calls: each one
  // fails loudly if it ever is. The instance gets a stack of its own, so that it never
  // writes into the game thread's.
  async connect(m) {
    const imports = {};
    for (const wanted of WebAssembly.Module.imports(m.wasm)) {
      const group = imports[wanted.module] || (imports[wanted.module] = {});
      if (wanted.kind === 'memory') {
        group[wanted.name] = m.memory;
      } else if (wanted.kind === 'function') {
        group[wanted.name] = () => { throw new Error('the renderer called the page (' + wanted.name + ')'); };
      } else {
        throw new Error('the module wants a ' + wanted.kind);
      }
    }
    const instance = await WebAssembly.instantiate(m.wasm, imports);
    const table = Object.values(instance.exports).find((e) => e instanceof WebAssembly.Table);
    if (!table) throw new Error('the module has no function table');
    const [render, start, count, first, setLimits, setStack] = m.calls.map((index) => table.get(index));
    setLimits(m.stackTop, m.stackBottom);
    setStack(m.stackTop);
    this.memory = m.memory;
    this.heap = new Float32Array(m.memory.buffer);
    this.start = start;
    this.count = count;
    this.first = first;
    this.render = render;
  }

  process(inputs, outputs) {
    const left = outputs[0][0];
    const right = outputs[0][1] || outputs[0][0];
    const frames = left.length;
    const pointer = this.render ? this.render(frames) : 0;
    if (pointer) {
      const base = pointer >> 2;
      // The memory may have grown since: a view of its present size reaches every sample.
      if (base + 2 * frames > this.heap.length) this.heap = new Float32Array(this.memory.buffer);
      const heap = this.heap;
      for (let i = 0; i < frames; ++i) {
        left[i] = heap[base + 2 * i];
        right[i] = heap[base + 2 * i + 1];
      }
      const marks = this.count();
      if (marks > 0) {
        // Voices that start together share one mark.
        const begin = this.start();
        let last = -1;
        for (let k = 0; k < marks; ++k) {
          const frame = this.first(k);
          if (frame === last) continue;
          last = frame;
          this.port.postMessage({mark: frame, time: currentTime + (frame - begin) / sampleRate});
        }
      }
      if (!this.rendered) {
        this.rendered = true;
        this.port.postMessage({rendering: true});
      }
    } else {
      left.fill(0);
      right.fill(0);
    }
    if (this.capture) {
      // The mixer's output frame of the first frame kept.
      if (this.captured === 0 && pointer) this.captureFrom = this.start();
      for (let i = 0; i < frames && this.captured * 2 < this.capture.length; ++i, ++this.captured) {
        this.capture[2 * this.captured] = left[i];
        this.capture[2 * this.captured + 1] = right[i];
      }
    }
    return true;
  }
}

registerProcessor('vesquin-output', VesquinOutput);
