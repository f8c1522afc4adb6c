// The browser's own key-to-sound path, for the bench: a key on the page starts a click in an
// AudioWorklet from the next render quantum, through the AudioContext options of the game's page,
// or those given as ?options=JSON.
'use strict';
const options = JSON.parse(new URLSearchParams(location.search).get('options') ||
                           '{"sampleRate":48000,"latencyHint":0}');
window.clickPage = {keyTimes: [], running: false, context: null};
document.getElementById('start').addEventListener('click', async () => {
  const context = new AudioContext(options);
  const resumed = context.resume();
  await context.audioWorklet.addModule('click_worklet.js');
  const node = new AudioWorkletNode(context, 'click', {numberOfInputs: 0, outputChannelCount: [2]});
  node.connect(context.destination);
  // The keys reach the audio thread through shared memory, as the game's do.
  const keys = new Int32Array(new SharedArrayBuffer(4));
  node.port.postMessage(keys);
  await resumed;
  const area = document.getElementById('area');
  area.addEventListener('keydown', (event) => {
    window.clickPage.keyTimes.push(event.timeStamp);
    Atomics.add(keys, 0, 1);
  });
  area.focus();
  window.clickPage.context = context;
  window.clickPage.running = true;
});
