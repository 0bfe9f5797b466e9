// What the page asks its backend (api.js: the server, or this browser) as its state changes: the roots'
// classes for the polynomial, and the reports of the selected search by the method and by the second
// method compared with it. The answers go into the state, where the layers and the panel find them; an
// answer overtaken by a newer request is aborted, not shown.
import { aborted } from './api.js';

export function followBackend(store, api) {
  // Whether the state still asks what it asked: x1 may have gone meanwhile, which no new request aborts.
  const still = (asked, keys) => keys.every((k) => store.get()[k] === asked[k]);
  store.watch(['poly'], (state) => {
    api.roots(state.poly).then((roots) => still(state, ['poly']) && store.set({ roots }), (e) => {
      if (!aborted(e) && still(state, ['poly'])) {
        store.set({ roots: null, notice: 'No se pudieron obtener las raíces: ' + e.message });
      }
    });
  });
  // The report of each method shown, each with its own requests: a new point asks for both at once.
  for (const [key, method] of [['report', 'method'], ['report2', 'second']]) {
    const report = api.reporter();
    const keys = ['x0', 'x1', 'poly', method];
    store.watch(keys, (state) => {
      if (state.x1 === null || state[method] === null) {
        store.set({ [key]: { status: 'none' } });
        return;
      }
      store.set({ [key]: { status: 'loading' } });
      report(state.x0, state.x1, state.poly, state[method]).then((data) => {
        if (still(state, keys)) {
          store.set({ [key]: { status: 'ready', data } });
        }
      }, (e) => {
        if (!aborted(e) && still(state, keys)) {
          store.set({ [key]: { status: 'failed', message: e.message } });
        }
      });
    });
  }
}
