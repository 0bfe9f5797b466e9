// The method of the map and the reports, and the second method compared with it ("Comparar con…"):
// two selects that follow the state and set it. A method is not compared with itself: each select's
// choice is disabled in the other.
import { methodLabel, methodNames } from '../methods.js';

// method, second: the selects; the second's first option, '', compares with none.
export function methodFields(store, method, second) {
  for (const m of methodNames) {
    method.add(new Option(methodLabel(m), m));
    second.add(new Option(methodLabel(m), m));
  }
  method.addEventListener('change', () => store.set({ method: method.value }, { from: 'user' }));
  second.addEventListener('change', () => store.set({ second: second.value || null }, { from: 'user' }));
  store.watch(['method', 'second'], (state) => {
    method.value = state.method;
    second.value = state.second || '';
    for (const option of method.options) {
      option.disabled = option.value === state.second;
    }
    for (const option of second.options) {
      option.disabled = option.value === state.method;
    }
  });
}
