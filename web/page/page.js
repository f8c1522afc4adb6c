// The page around the game: loads the sounds, starts the sound output on the Start button,
// passes keys to the game, keeps best.dat and config.dat in the browser's storage, and hands
// the game's module and memory to the AudioWorklet, which renders the mixer there. Its service
// worker keeps the site for play without a network and isolates the page where the host
// does not.
'use strict';

(async () => {
  const params = new URLSearchParams(location.search);
  const testMode = params.has('test');
  const kRate = 48000;
  const kRendererStackBytes = 64 * 1024;
  // How long the sound output may take after Start to run the renderer before the player is
  // told, and the output tried again.
  const kSilenceWatchMs = 3000;
  // How long each status message stands before the next one replaces it, so that a screen
  // reader has read it; and how long a repeated one leaves the line empty first.
  const kMessageMs = 700;
  const kBlankMs = 100;
  // Set while the page reloads itself to come back isolated by its service worker.
  const kIsolationReload = 'vesquin-isolation-reload';

  const startButton = document.getElementById('start');
  const statusLine = document.getElementById('status');
  const gameArea = document.getElementById('game');
  const gameHelp = document.getElementById('game-help');
  const detailsForm = document.getElementById('details');
  const detailsStatus = document.getElementById('details-status');
  const detailInputs = ['first-name', 'last-name', 'address', 'country'].map((id) => document.getElementById(id));

  // What tests and measurements look at.
  const observed = {
    transcript: [],
    errors: [],
    ended: false,
    startClickedAt: 0,
    firstSoundAt: 0,       // performance time of the first frame of the intro at the output
    // {frame, at, played, received}: first frames of voices at the output, when the worklet
    // played them, and when the page heard of them
    marks: [],
    keyTimes: [],          // performance times of key presses passed to the game
  };
  window.vesquinPage = observed;

  let game = null;       // the wasm module
  let wasm = null;       // {module, memory}: what the worklet's renderer is made of
  let context = null;
  let output = null;
  let persisting = null;
  let rendering = false; // the worklet has rendered the game's sound
  let warnedOfSilence = false;
  const pendingMarks = [];
  let placeTimer = null;

  // Calls an exported function that takes and gives texts. (ccall cannot be used: while the
  // game waits, it takes every call for one that started the wait.)
  function callWithTexts(name, texts, returnsText) {
    const pointers = texts.map((text) => {
      const size = game.lengthBytesUTF8(text) + 1;
      const pointer = game._malloc(size);
      game.stringToUTF8(text, pointer, size);
      return pointer;
    });
    const result = game['_' + name](...pointers);
    pointers.forEach((pointer) => game._free(pointer));
    return returnsText ? game.UTF8ToString(result) : result;
  }

  // Writes messages into a live region one at a time, each standing kMessageMs, so that none
  // is lost to the next; a message equal to the one there is written after a blank, which
  // the screen reader reads as a change.
  function announcer(region) {
    const queue = [];
    let writing = false;
    const next = () => {
      if (queue.length === 0) {
        writing = false;
        return;
      }
      writing = true;
      const text = queue.shift();
      const write = () => {
        region.textContent = text;
        setTimeout(next, kMessageMs);
      };
      if (region.textContent === text) {
        region.textContent = '';
        setTimeout(write, kBlankMs);
      } else {
        write();
      }
    };
    return (text) => {
      queue.push(text);
      if (!writing) next();
    };
  }
  const say = announcer(statusLine);
  const sayOfDetails = announcer(detailsStatus);

  // What this page needs of the browser and of the server that sent it, in the order a fault
  // is best explained: null when it has all of it, else why the game cannot start and what
  // to do. The game's memory is shared with the sound output's thread, which browsers allow
  // only on a secure, cross-origin isolated page.
  function whyItCannotRun() {
    const headers = 'Whoever runs this site must serve the page with the headers ' +
      'Cross-Origin-Opener-Policy: same-origin and Cross-Origin-Embedder-Policy: require-corp, ' +
      'as the Vesquin score server vesquin-scored does.';
    if (!window.isSecureContext) {
      return 'Vesquin cannot start: this page came over plain HTTP from another computer, and the ' +
        'browser then withholds the shared memory and the sound output the game needs. ' +
        'Whoever runs this site must serve it over HTTPS (or open it as localhost on the same ' +
        'computer). ' + headers;
    }
    if (!window.crossOriginIsolated) {
      return 'Vesquin cannot start: this page was served without cross-origin isolation, so the ' +
        'browser withholds the shared memory between the game and its sound output. ' + headers;
    }
    if (typeof SharedArrayBuffer === 'undefined' || typeof Atomics === 'undefined' ||
        typeof WebAssembly !== 'object') {
      return 'Vesquin cannot start: this browser has no shared memory for WebAssembly. ' +
        'Please use a current Chrome, Edge, Firefox or Safari.';
    }
    if (typeof AudioContext === 'undefined' || typeof AudioWorkletNode === 'undefined') {
      return 'Vesquin cannot start: this browser has no AudioWorklet sound output. ' +
        'Please use a current Chrome, Edge, Firefox or Safari.';
    }
    return null;
  }

  // Gives the marks the worklet rendered their times on the page's clock. The output
  // timestamp pairs the context time being heard now with the page's clock; the worklet
  // renders the context's current time, ahead of it by the output's latency. Until the output
  // has first told when it plays what, its timestamp's page time is 0 and pairs nothing: the
  // marks wait for one that does.
  function placeMarks() {
    placeTimer = null;
    if (!context || pendingMarks.length === 0) return;
    const stamp = context.getOutputTimestamp();
    if (!(stamp.performanceTime > 0)) {
      if (context.state !== 'closed') placeTimer = setTimeout(placeMarks, 5);
      return;
    }
    for (const m of pendingMarks.splice(0)) {
      const at = stamp.performanceTime + (m.time - stamp.contextTime) * 1000;
      // When the worklet rendered it, as far as the output's own latency figures tell.
      const latency = ((context.baseLatency || 0) + (context.outputLatency || 0)) * 1000;
      observed.marks.push({frame: m.mark, at, played: at - latency, latency, received: m.received});
      if (!observed.firstSoundAt) observed.firstSoundAt = at;
    }
  }

  let rendererWaiter = null;
  function onWorklet(event) {
    const m = event.data;
    if (m.mark !== undefined) {
      pendingMarks.push({...m, received: performance.now()});
      if (!placeTimer) placeMarks();
    } else if (m.rendering) {
      rendering = true;
      if (warnedOfSilence) say('The sound has started. Vesquin is running.');
    } else if (m.connected || m.failed) {
      if (rendererWaiter) rendererWaiter(m);
    } else if (m.capture) {
      if (captureWaiter) captureWaiter(m);
    }
  }

  // Hands the game's module and memory to the worklet, with a stack for its renderer.
  function connectRenderer() {
    const callsAt = game._vesquin_worklet_calls() >> 2;
    const calls = Array.from(new Uint32Array(wasm.memory.buffer).subarray(callsAt, callsAt + 6));
    const stackBottom = game._malloc(kRendererStackBytes);
    if (!stackBottom) return Promise.reject(new Error('no memory for the sound renderer'));
    const stackTop = (stackBottom + kRendererStackBytes) & ~15;
    return new Promise((resolve, reject) => {
      rendererWaiter = (m) => {
        rendererWaiter = null;
        if (m.connected) resolve();
        else reject(new Error(m.failed));
      };
      output.port.postMessage({wasm: wasm.module, memory: wasm.memory, calls, stackTop, stackBottom});
    });
  }

  // A player who hears nothing is told so, through the status line their screen reader
  // reads, and the output is asked to run again.
  function watchForSilence() {
    setTimeout(() => {
      if (rendering || observed.ended || !context) return;
      warnedOfSilence = true;
      say('The sound has not started yet. If you hear nothing, check that this page may play sound.');
      context.resume().catch(() => {});
      watchForSilence();
    }, kSilenceWatchMs);
  }

  let captureWaiter = null;
  observed.capture = (frames) => output.port.postMessage({capture: frames});
  observed.takeCapture = () => new Promise((resolve) => {
    captureWaiter = resolve;
    output.port.postMessage({takeCapture: true});
  });
  observed.forceRandom = (values) => { for (const v of values) game._vesquin_force_random(v); };
  observed.hasHrtf = () => game._vesquin_has_hrtf() === 1;
  observed.sampleRate = () => (context ? context.sampleRate : 0);
  observed.outputLatency = () => ((context.baseLatency || 0) + (context.outputLatency || 0)) * 1000;
  // The browser's own count of the times its output ran dry, where it keeps one.
  observed.playbackStats = () => {
    const stats = context && context.playbackStats;
    return stats ? {underruns: stats.underrunEvents, underrunMs: stats.underrunDuration * 1000,
                    seconds: stats.totalDuration} : null;
  };
  observed.origin = () => game._vesquin_origin_ms();
  observed.nextTick = () => game._vesquin_next_tick_ms();
  observed.storeFile = (name, bytes) => {
    game.FS.writeFile('/persist/' + name, Uint8Array.from(bytes));
    persist();
  };
  observed.readFile = (path) => (game.FS.analyzePath(path).exists ? Array.from(game.FS.readFile(path)) : null);

  // Writes the browser's copy of the files back to its storage, one write at a time.
  function persist() {
    if (persisting) {
      persisting.again = true;
      return;
    }
    persisting = {again: false};
    game.FS.syncfs(false, () => {
      const again = persisting.again;
      persisting = null;
      if (again) persist();
    });
  }
  observed.persisted = () => new Promise((resolve) => {
    const wait = () => (persisting ? setTimeout(wait, 10) : resolve());
    wait();
  });

  function restoreClip(entry, decoded) {
    // The clip file as the game's loader reads it: the WAVE header, the samples of the
    // original length, and the first 50 bytes reversed.
    const header = Uint8Array.from(atob(entry.header), (c) => c.charCodeAt(0));
    const file = new Uint8Array(44 + entry.length);
    file.set(header.subarray(0, 44));
    const view = new DataView(file.buffer);
    const channels = entry.channels;
    const frames = entry.length / (2 * channels);
    for (let c = 0; c < channels; ++c) {
      const data = decoded.getChannelData(Math.min(c, decoded.numberOfChannels - 1));
      const n = Math.min(frames, data.length);
      for (let i = 0; i < n; ++i) {
        const v = Math.max(-32768, Math.min(32767, Math.round(data[i] * 32768)));
        view.setInt16(44 + 2 * (i * channels + c), v, true);
      }
    }
    file.subarray(0, 50).reverse();
    return file;
  }

  async function loadClips(manifest) {
    const decoder = new OfflineAudioContext(1, 1, kRate);
    await Promise.all(manifest.clips.map(async (entry) => {
      const response = await fetch(entry.file);
      if (!response.ok) throw new Error('missing ' + entry.file);
      const decoded = await decoder.decodeAudioData(await response.arrayBuffer());
      const path = '/vesquin/' + entry.name;
      game.FS.mkdirTree(path.substring(0, path.lastIndexOf('/')));
      game.FS.writeFile(path, restoreClip(entry, decoded));
    }));
  }

  async function fetchBytes(url) {
    const response = await fetch(url);
    if (!response.ok) throw new Error('missing ' + url);
    return new Uint8Array(await response.arrayBuffer());
  }

  async function prepareFiles(manifest) {
    const FS = game.FS;
    FS.mkdir('/persist');
    FS.mount(game.IDBFS, {}, '/persist');
    await new Promise((resolve) => FS.syncfs(true, () => resolve()));
    FS.mkdirTree('/vesquin');
    // The best list starts as the game folder's; after that it is the player's.
    if (!FS.analyzePath('/persist/best.dat').exists) {
      FS.writeFile('/persist/best.dat', await fetchBytes(manifest.best));
      persist();
    }
    FS.symlink('/persist/best.dat', '/vesquin/best.dat');
    FS.symlink('/persist/config.dat', '/vesquin/config.dat');
    if (manifest.hrtf) FS.writeFile('/vesquin/hrtf.table', await fetchBytes(manifest.hrtf));
  }

  function showDetails() {
    const FS = game.FS;
    if (!FS.analyzePath('/persist/config.dat').exists) return;
    const lines = new TextDecoder().decode(FS.readFile('/persist/config.dat')).split('\n');
    detailInputs.forEach((input, i) => { input.value = lines[i] || ''; });
  }

  detailsForm.addEventListener('submit', (event) => {
    event.preventDefault();
    if (!game) return;
    let first = null;
    for (const input of detailInputs) {
      const problem = callWithTexts('vesquin_detail_problem', [input.value], true);
      const note = document.getElementById(input.id + '-problem');
      note.textContent = problem;
      input.setAttribute('aria-invalid', problem ? 'true' : 'false');
      if (problem && !first) first = input;
    }
    if (first) {
      sayOfDetails('Your details were not saved: please correct the marked field.');
      first.focus();
      return;
    }
    const error = callWithTexts('vesquin_write_details', ['/persist', ...detailInputs.map((input) => input.value)], true);
    if (error) {
      sayOfDetails('Your details were not saved: ' + error);
      return;
    }
    persist();
    sayOfDetails('Your details are saved.');
  });

  function keyHandler(down) {
    return (event) => {
      // System keys stay the browser's, as they stay the system's in the game's window;
      // Tab leaves the game area.
      if ((event.altKey && !event.ctrlKey) || event.key === 'F10' || event.key === 'Tab' || event.metaKey) return;
      const code = callWithTexts('vesquin_virtual_key', [event.key, event.code], false);
      if (code < 0) return;
      event.preventDefault();
      if (down) observed.keyTimes.push(event.timeStamp);
      game._vesquin_key(code, down ? 1 : 0);
      if (game.wakeLoop) game.wakeLoop();
    };
  }

  // Resolves when the output runs. Firefox keeps a context suspended, and its resume
  // unanswered, for as long as it has no sound device or holds the page's sound back.
  function outputRunning() {
    return new Promise((resolve) => {
      const check = () => {
        if (context.state === 'running') resolve();
      };
      context.addEventListener('statechange', check);
      context.resume().then(check, () => {});
      check();
    });
  }

  // While the output has not started, the player hears nothing: the status line says why,
  // and Start, pressed again, asks the browser once more.
  function watchForNoOutput() {
    setTimeout(() => {
      if (!context || context.state === 'running' || context.state === 'closed') return;
      say('The sound has not started: the browser has not opened a sound output for this page. Check ' +
        'that a sound device is connected and switched on, and that this site may play sound (the ' +
        'site\'s permissions in the address bar). Vesquin starts as soon as its sound does; Start ' +
        'Vesquin asks the browser again.');
      startButton.disabled = false;
      watchForNoOutput();
    }, kSilenceWatchMs);
  }

  async function start() {
    if (context) {
      // Pressed again while the browser holds the output back: a fresh press may free it.
      startButton.disabled = true;
      context.resume().catch(() => {});
      return;
    }
    startButton.disabled = true;
    observed.startClickedAt = performance.now();
    say('Starting the sound.');
    try {
      // The smallest output buffer the browser has (a render quantum, where 'interactive' gives
      // chromium four): a key's answer is heard some 20 ms sooner.
      context = new AudioContext({sampleRate: kRate, latencyHint: 0});
      // Asked for within the press, as browsers want before they let a page sound.
      const running = outputRunning();
      await context.audioWorklet.addModule('worklet.js');
      output = new AudioWorkletNode(context, 'vesquin-output', {numberOfInputs: 0, outputChannelCount: [2]});
      output.port.onmessage = onWorklet;
      output.connect(context.destination);
      await ready;
      await connectRenderer();
      watchForNoOutput();
      await running;
    } catch (e) {
      say('The sound could not be started: ' + e.message);
      if (context) context.close();
      context = null;
      startButton.disabled = false;
      return;
    }
    started = true;
    gameHelp.hidden = false;
    gameArea.hidden = false;
    startButton.hidden = true;
    say('Vesquin is running.');
    gameArea.addEventListener('keydown', keyHandler(true));
    gameArea.addEventListener('keyup', keyHandler(false));
    gameArea.focus();
    if (observed.captureOnStart) output.port.postMessage({capture: observed.captureOnStart});
    watchForSilence();
    game.callMain(testMode ? ['--calendar', '1'] : []);
  }

  // The service worker, where the browser gives this page one: null where it does not.
  async function registerWorker() {
    if (!window.isSecureContext || !('serviceWorker' in navigator)) return null;
    try {
      return await navigator.serviceWorker.register('sw.js');
    } catch (e) {
      return null;
    }
  }

  // Says why, then loads the page again once the service worker that is to serve it
  // controls the page.
  function reloadThroughWorker(why, controlWillChange) {
    say(why);
    const reload = () => setTimeout(() => location.reload(), kMessageMs);
    if (navigator.serviceWorker.controller && !controlWillChange) {
      reload();
    } else {
      navigator.serviceWorker.addEventListener('controllerchange', reload, {once: true});
    }
  }

  // A release downloaded since this page was loaded from the one before takes over while no
  // game has started here, and the page loads again from it: one release, never parts of two.
  // A game that has started keeps its release to the end; the next start takes the new one.
  function takeNewRelease(registration) {
    const offer = (worker) => {
      if (started || !navigator.serviceWorker.controller) return;
      reloadThroughWorker('A new version of Vesquin has been downloaded: the page loads it now.', true);
      worker.postMessage('take-over');
    };
    if (registration.waiting) offer(registration.waiting);
    registration.addEventListener('updatefound', () => {
      const worker = registration.installing;
      worker.addEventListener('statechange', () => {
        if (worker.state === 'installed') offer(worker);
      });
    });
    registration.update().catch(() => {});
  }

  let started = false;
  const registering = registerWorker();
  registering.then((registration) => {
    if (registration) takeNewRelease(registration);
  });
  // What the tests wait for: the release kept, for play without a network.
  observed.offlineReady = async () => (await registering) !== null && (await navigator.serviceWorker.ready) !== null;

  const cannotRun = whyItCannotRun();
  if (cannotRun && window.isSecureContext && !window.crossOriginIsolated &&
      sessionStorage.getItem(kIsolationReload) === null && (await registering)) {
    sessionStorage.setItem(kIsolationReload, '1');
    reloadThroughWorker('This site sends the page without the cross-origin isolation the game needs. Vesquin ' +
      'adds it itself and loads the page once more.', false);
    return;
  }
  sessionStorage.removeItem(kIsolationReload);
  if (cannotRun) {
    observed.cannotRun = cannotRun;
    say(cannotRun);
    // Start stays there to be pressed, and says it again.
    startButton.disabled = false;
    startButton.addEventListener('click', () => say(cannotRun));
    return;
  }

  const ready = (async () => {
    let failed = null;
    const failure = new Promise((resolve, reject) => { failed = reject; });
    game = await Promise.race([failure, createVesquin({
      locateFile: (name) => name,
      // The module is compiled here, so that the worklet can make its renderer of the same
      // module and memory.
      instantiateWasm: (imports, receive) => {
        let memory = null;
        for (const group of Object.values(imports)) {
          for (const value of Object.values(group)) if (value instanceof WebAssembly.Memory) memory = value;
        }
        WebAssembly.instantiateStreaming(fetch('vesquin.wasm'), imports).then((result) => {
          wasm = {module: result.module, memory: memory || Object.values(result.instance.exports).find((e) => e instanceof WebAssembly.Memory)};
          receive(result.instance, result.module);
        }, failed);
        return {};
      },
      onLine: (line) => observed.transcript.push(line),
      onError: (text) => {
        observed.errors.push(text);
        say('Error! ' + text);
      },
      onEnded: () => {
        observed.ended = true;
        gameArea.hidden = true;
        say('Vesquin has ended. Reload the page to play again.');
        if (context) context.close();
      },
      persist,
    })]);
    const manifest = await (await fetch('clips.json')).json();
    await prepareFiles(manifest);
    showDetails();
    document.getElementById('save-details').disabled = false;
    await loadClips(manifest);
    startButton.disabled = false;
    say('Ready. Press Start Vesquin.');
  })();
  ready.catch((e) => say('The game could not be loaded: ' + e.message));
  startButton.addEventListener('click', start);
})();
