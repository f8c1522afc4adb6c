// 5 ms of a 1 kHz square wave from the first frame of the quantum after each key counted in
// the page's shared counter.
class Click extends AudioWorkletProcessor {
  constructor() {
    super();
    this.keys = null;
    this.seen = 0;
    this.left = 0;
    this.port.onmessage = (event) => { this.keys = event.data; };
  }

  process(inputs, outputs) {
    if (this.keys && Atomics.load(this.keys, 0) !== this.seen) {
      this.seen = Atomics.load(this.keys, 0);
      this.left = Math.round(sampleRate / 200);
    }
    const [left, right] = outputs[0];
    for (let i = 0; i < left.length; ++i) {
      const v = this.left > 0 ? (Math.floor(this.left / (sampleRate / 2000)) % 2 ? 0.5 : -0.5) : 0;
      if (this.left > 0) --this.left;
      left[i] = v;
      if (right) right[i] = v;
    }
    return true;
  }
}
registerProcessor('click', Click);
