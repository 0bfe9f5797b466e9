// The page's state in one place, and who follows which part of it. Every part of the page reads the
// state here and changes it with set(); a change reaches those who subscribed to one of its keys, with
// a word on where it came from (the address, or the user), so that the history and the requests follow
// without each part calling the others.
//
//     const store = createStore({ x0: [0, 0], x1: null });
//     store.on(['x1'], (state, how) => ...);
//     store.set({ x1: [1, 1] }, { from: 'user' });

// Values compared by what they hold, numbers by Object.is: [0, 0] is [0, 0], but -0 is not 0, which the
// search tells apart.
function same(a, b) {
  if (Object.is(a, b)) {
    return true;
  }
  if (a === null || b === null || typeof a !== 'object' || typeof b !== 'object') {
    return false;
  }
  const keys = Object.keys(a);
  return Array.isArray(a) === Array.isArray(b) && keys.length === Object.keys(b).length &&
    keys.every((k) => same(a[k], b[k]));
}

export function createStore(initial) {
  let state = Object.freeze({ ...initial });
  const listeners = new Set();
  return {
    get: () => state,
    // Changes the keys of patch whose values differ, then tells their subscribers, each once. A value
    // the same as before is kept as it was, so that who compares what they asked with the state by
    // identity (data.js) is not misled by an equal copy.
    set(patch, how = {}) {
      const changed = Object.keys(patch).filter((k) => !same(state[k], patch[k]));
      if (changed.length === 0) {
        return;
      }
      state = Object.freeze({ ...state, ...Object.fromEntries(changed.map((k) => [k, patch[k]])) });
      // A subscriber may set more; those after it then see the newest state.
      for (const l of Array.from(listeners)) {
        if (listeners.has(l) && l.keys.some((k) => changed.includes(k))) {
          l.fn(state, how, changed);
        }
      }
    },
    // Calls fn(state, how, changed) on every change of one of keys; returns what unsubscribes it.
    on(keys, fn) {
      const listener = { keys, fn };
      listeners.add(listener);
      return () => listeners.delete(listener);
    },
    // The same, and once now, for what shows the state as it is.
    watch(keys, fn) {
      const off = this.on(keys, fn);
      fn(state, { from: 'start' }, keys);
      return off;
    },
  };
}
