// What the page asks its backend (api.js: the server, or this browser) as its state changes: the roots'
// classes for the polynomial, and the report of the selected search. The answers go into the state, where the layers and the panel find
// them; an answer overtaken by a newer request is aborted, not shown.
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
  store.watch(['x0', 'x1', 'poly'], (state) => {
    if (state.x1 === null) {
      store.set({ report: { status: 'none' } });
      return;
    }
    store.set({ report: { status: 'loading' } });
    const keys = ['x0', 'x1', 'poly'];
    api.report(state.x0, state.x1, state.poly).then((data) => {
      if (still(state, keys)) {
        store.set({ report: { status: 'ready', data } });
      }
    }, (e) => {
      if (!aborted(e) && still(state, keys)) {
        store.set({ report: { status: 'failed', message: e.message } });
      }
    });
  });
}
