// 5 ms of a 1 kHz square wave from the first frame of the quantum after each message.
class Click extends AudioWorkletProcessor {
  constructor() {
    super();
    this.left = 0;
    this.port.onmessage = () => { this.left = Math.round(sampleRate / 200); };
  }

  process(inputs, outputs) {
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
